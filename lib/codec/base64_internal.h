// Kernels behind base64_encode / base64_decode: portable ones, always built,
// and AVX2 ones picked by cpu::kernels() when the CPU has AVX2. Tests call
// both sides directly to prove they agree byte for byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "codec/base64.h"

namespace kestrin::base64 {

// The alphabet (the character at position v encodes the 6-bit value v) and
// the one character table of every decoder: the value of an alphabet
// character, kSpace for the six white space characters the decoders skip
// (space, \t, \n, \v, \f, \r), kInvalid for everything else ('=' and NUL
// among them, which the decoders look at first).
inline constexpr char kAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
inline constexpr unsigned char kInvalid = 0xFF;
inline constexpr unsigned char kSpace = 0xFE;
inline constexpr std::array<unsigned char, 256> kDecode = [] {
    std::array<unsigned char, 256> table{};
    for (auto &entry : table) entry = kInvalid;
    for (unsigned v = 0; v < 64; ++v) table[static_cast<unsigned char>(kAlphabet[v])] = static_cast<unsigned char>(v);
    for (char c : {' ', '\t', '\n', '\v', '\f', '\r'}) table[static_cast<unsigned char>(c)] = kSpace;
    return table;
}();
inline bool is_space(char c) { return kDecode[static_cast<unsigned char>(c)] == kSpace; }
inline bool in_alphabet(char c) { return kDecode[static_cast<unsigned char>(c)] < 64; }

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

// The padded last group of one or two bytes (rem), four characters.
void encode_tail(const unsigned char *src, size_t rem, char *out);

// The public operations with an explicit kernel choice.
int encode_with(GroupEncoder kernel, const unsigned char *src, size_t src_len, char *out,
                size_t out_size);
int decode_with(BulkDecoder kernel, const char *text, unsigned char *out, size_t out_size);

// base64_decode_n with an explicit kernel choice.
int decode_span_with(BulkDecoder kernel, const char *text, size_t len, unsigned char *out, size_t out_size);

// base64_stream_decode and base64_stream_encode with an explicit kernel choice.
long stream_decode_with(BulkDecoder kernel, base64_stream &stream, const char *text, size_t len, unsigned char *out,
                        size_t out_size);
long stream_encode_with(GroupEncoder kernel, base64_stream &stream, const unsigned char *src, size_t n, char *out,
                        size_t out_size);

}  // namespace kestrin::base64
