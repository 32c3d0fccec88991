// Kernels behind base64_encode / base64_decode: portable ones, always built,
// and AVX2 ones picked by cpu::kernels() when the CPU has AVX2. Tests call
// both sides directly to prove they agree byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrin::base64 {

inline constexpr char kAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Encodes a whole number of 3-byte groups: n must be a multiple of 3.
// Writes exactly n / 3 * 4 characters, no NUL.
using GroupEncoder = void (*)(const unsigned char *src, size_t n, char *out);
void encode_groups_portable(const unsigned char *src, size_t n, char *out);
void encode_groups_avx2(const unsigned char *src, size_t n, char *out);

// Decodes a run of complete groups from the start of text[0, len) while every
// character is in the alphabet and the output has room (out may be null).
// Stops at the first group holding any other character; a kernel may first
// skip whitespace found between whole groups (the AVX2 one does, for folded
// text), since the caller would skip it there too.
// Returns the number of characters consumed; *written gets the bytes
// produced (3 per group).
using BulkDecoder = size_t (*)(const char *text, size_t len, unsigned char *out,
                               size_t room, size_t *written);
size_t decode_bulk_portable(const char *text, size_t len, unsigned char *out,
                            size_t room, size_t *written);
size_t decode_bulk_avx2(const char *text, size_t len, unsigned char *out,
                        size_t room, size_t *written);

// The public operations with an explicit kernel choice.
int encode_with(GroupEncoder kernel, const unsigned char *src, size_t src_len, char *out,
                size_t out_size);
int decode_with(BulkDecoder kernel, const char *text, unsigned char *out, size_t out_size);

// base64_decode_n with an explicit kernel choice.
int decode_span_with(BulkDecoder kernel, const char *text, size_t len, unsigned char *out, size_t out_size);

}  // namespace kestrin::base64
