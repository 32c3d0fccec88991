/*
 * sha1 - SHA-1 digests (FIPS 180-4) of buffers and files, and the
 * incremental core they are built on. Nothing here allocates or prints.
 */
#ifndef KESTRIN_CODEC_SHA1_H
#define KESTRIN_CODEC_SHA1_H

#include "../kestrin_api.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif
KESTRIN_API_BEGIN

typedef struct sha1_ctx {
    uint32_t state[5];        /* chaining words H0..H4 */
    uint32_t count[2];        /* message length in bits: [0] low, [1] high word */
    unsigned char buffer[64]; /* partial block; fill = (count[0] / 8) % 64 */
} sha1_ctx;

/* sha1_init: the initial chaining words of FIPS 180-4 and a zero count. */
void sha1_init(sha1_ctx *ctx) KESTRIN_NOEXCEPT;

/* sha1_update: absorbs len bytes of data (any length, 0 included). */
void sha1_update(sha1_ctx *ctx, const unsigned char *data, uint32_t len) KESTRIN_NOEXCEPT;

/* sha1_final: pads, writes the 20-byte digest, then zeroes the whole context. */
void sha1_final(unsigned char digest[20], sha1_ctx *ctx) KESTRIN_NOEXCEPT;

/* sha1_transform: compresses one 64-byte block into state; block is only read. */
void sha1_transform(uint32_t state[5], const unsigned char block[64]) KESTRIN_NOEXCEPT;

/*
 * sha1_file / sha1_buffer: the digest of a file's contents or of len bytes.
 *   format 'x': out (41 bytes) receives 40 lower-case hex characters and a
 *   NUL; any other format: out (20 bytes) receives the raw digest.
 * Return out. sha1_file returns NULL (out untouched) when the file cannot be
 * opened or a read fails. sha1_buffer returns NULL for a negative len.
 */
char *sha1_file(const char *path, char format, char *out) KESTRIN_NOEXCEPT;
char *sha1_buffer(const unsigned char *data, int32_t len, char format, char *out) KESTRIN_NOEXCEPT;

KESTRIN_API_END
#ifdef __cplusplus
}
#endif

#endif
