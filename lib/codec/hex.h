/*
 * hex - bytes to upper-case hexadecimal text and back (both cases read).
 * Buffers returned are malloc'd; the caller frees them.
 */
#ifndef KESTRIN_CODEC_HEX_H
#define KESTRIN_CODEC_HEX_H

#include "../kestrin_api.h"

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif
KESTRIN_API_BEGIN

/*
 * hex_encode: the 2 * len characters "0123456789ABCDEF" for the bytes, high
 * nibble first, NUL-terminated.
 * Returns the new text, or NULL when data is NULL, len is 0 or memory runs out.
 */
char *hex_encode(const unsigned char *data, size_t len) KESTRIN_NOEXCEPT;

/*
 * hex_digit_value: stores the value (0-15) of the digit c ('0'-'9', 'A'-'F',
 * 'a'-'f') through nibble and returns 1; returns 0 for any other character or
 * a NULL nibble (nothing stored).
 */
int hex_digit_value(char c, unsigned char *nibble) KESTRIN_NOEXCEPT;

/*
 * hex_decode: decodes the whole text, two digits per byte, into a new buffer
 * of length(text) / 2 bytes stored through *out (not NUL-terminated).
 * Returns the number of bytes, or 0 when:
 *   - text is NULL or empty, out is NULL, the length is odd, or memory runs
 *     out: nothing is allocated and *out is untouched;
 *   - a character is not a digit: *out has been set all the same and the
 *     caller owns (and frees) that buffer; the bytes before the bad pair are
 *     decoded and every later byte holds 0x41 ('A').
 */
size_t hex_decode(const char *text, unsigned char **out) KESTRIN_NOEXCEPT;

KESTRIN_API_END
#ifdef __cplusplus
}
#endif

#endif
