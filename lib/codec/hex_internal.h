// Kernels behind hex_encode / hex_decode: portable loops, always built, and
// AVX2 ones picked by cpu::kernels() when the CPU has AVX2. Tests call both
// directly to prove they agree byte for byte.
#pragma once

#include <cstddef>

namespace kestrin::hex {

// Writes the 2 * len upper-case digits of data, high nibble first (no NUL).
using Encoder = void (*)(const unsigned char *data, size_t len, char *out);
void encode_portable(const unsigned char *data, size_t len, char *out);
void encode_avx2(const unsigned char *data, size_t len, char *out);

// Decodes the n digit pairs of text[0, 2n) into out, stopping at the first
// pair that holds a non-digit. Returns the number of bytes decoded (n when
// every pair is good); nothing at or after the bad pair is written.
using Decoder = size_t (*)(const char *text, size_t n, unsigned char *out);
size_t decode_portable(const char *text, size_t n, unsigned char *out);
size_t decode_avx2(const char *text, size_t n, unsigned char *out);

}  // namespace kestrin::hex
