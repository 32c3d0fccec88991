// Hexadecimal codec. The bulk runs 32 characters (16 bytes) per AVX2 step
// when the CPU has AVX2; the scalar loops give identical results and handle
// the tails and any block holding a non-digit.
#include "codec/hex.h"

#include <immintrin.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "codec/cpu_internal.h"
#include "util/alloc_internal.h"

namespace kestrin::hex {
namespace {

constexpr char kDigits[] = "0123456789ABCDEF";
constexpr unsigned char kNotDigit = 0xFF;

constexpr std::array<unsigned char, 256> make_values() {
    std::array<unsigned char, 256> v{};
    for (auto &x : v) x = kNotDigit;
    for (int i = 0; i < 10; ++i) v['0' + i] = static_cast<unsigned char>(i);
    for (int i = 0; i < 6; ++i) {
        v['A' + i] = static_cast<unsigned char>(10 + i);
        v['a' + i] = static_cast<unsigned char>(10 + i);
    }
    return v;
}
constexpr auto kValues = make_values();

void encode_scalar(const unsigned char *data, size_t len, char *out) {
    for (size_t i = 0; i < len; ++i) {
        out[2 * i] = kDigits[data[i] >> 4];
        out[2 * i + 1] = kDigits[data[i] & 0x0F];
    }
}

// Decodes pairs until a non-digit; returns the number of bytes decoded.
size_t decode_scalar(const char *text, size_t n, unsigned char *out) {
    for (size_t i = 0; i < n; ++i) {
        const unsigned char hi = kValues[static_cast<unsigned char>(text[2 * i])];
        const unsigned char lo = kValues[static_cast<unsigned char>(text[2 * i + 1])];
        if (hi == kNotDigit || lo == kNotDigit) return i;
        out[i] = static_cast<unsigned char>(hi << 4 | lo);
    }
    return n;
}

__attribute__((target("avx2"))) size_t encode_avx2(const unsigned char *data, size_t len, char *out) {
    const __m256i digits = _mm256_setr_epi8('0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A', 'B', 'C',
                                            'D', 'E', 'F', '0', '1', '2', '3', '4', '5', '6', '7', '8', '9',
                                            'A', 'B', 'C', 'D', 'E', 'F');
    const __m256i low = _mm256_set1_epi8(0x0F);
    size_t i = 0;
    for (; len - i >= 32; i += 32) {
        const __m256i in = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(data + i));
        const __m256i hi = _mm256_shuffle_epi8(digits, _mm256_and_si256(_mm256_srli_epi16(in, 4), low));
        const __m256i lo = _mm256_shuffle_epi8(digits, _mm256_and_si256(in, low));
        // Interleave high and low digits; unpack works per 128-bit lane.
        const __m256i a = _mm256_unpacklo_epi8(hi, lo);
        const __m256i b = _mm256_unpackhi_epi8(hi, lo);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + 2 * i), _mm256_permute2x128_si256(a, b, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + 2 * i + 32), _mm256_permute2x128_si256(a, b, 0x31));
    }
    return i;
}

// 32 characters -> 16 bytes per step while every character is a digit.
__attribute__((target("avx2"))) size_t decode_avx2(const char *text, size_t n, unsigned char *out) {
    size_t i = 0;
    for (; n - i >= 16; i += 16) {
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(text + 2 * i));
        // Digits: '0'..'9' -> 0..9. Letters: fold case with 0x20, 'a'..'f' -> 10..15.
        const __m256i digit = _mm256_sub_epi8(c, _mm256_set1_epi8('0'));
        const __m256i is_digit = _mm256_cmpgt_epi8(_mm256_set1_epi8(10), digit);
        const __m256i digit_ok = _mm256_and_si256(is_digit, _mm256_cmpgt_epi8(digit, _mm256_set1_epi8(-1)));
        const __m256i letter = _mm256_sub_epi8(_mm256_or_si256(c, _mm256_set1_epi8(0x20)), _mm256_set1_epi8('a'));
        const __m256i letter_ok = _mm256_and_si256(_mm256_cmpgt_epi8(_mm256_set1_epi8(6), letter),
                                                   _mm256_cmpgt_epi8(letter, _mm256_set1_epi8(-1)));
        if (_mm256_movemask_epi8(_mm256_or_si256(digit_ok, letter_ok)) != -1) break;
        const __m256i value = _mm256_blendv_epi8(_mm256_add_epi8(letter, _mm256_set1_epi8(10)), digit, digit_ok);
        // Pairs (hi, lo) -> hi * 16 + lo, as 16-bit lanes, then pack to bytes.
        const __m256i pairs = _mm256_maddubs_epi16(value, _mm256_set1_epi16(0x0110));
        const __m256i packed = _mm256_packus_epi16(pairs, pairs);
        const __m256i ordered = _mm256_permute4x64_epi64(packed, 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm256_castsi256_si128(ordered));
    }
    return i;
}

char *encode(const unsigned char *data, size_t len) {
    if (!data || len == 0 || len > (SIZE_MAX - 1) / 2) return nullptr;
    char *out = static_cast<char *>(mem::allocate(2 * len + 1));
    if (!out) return nullptr;
    mem::advise_huge_pages(out, 2 * len + 1);
    const size_t done = cpu::has_avx2() ? encode_avx2(data, len, out) : 0;
    encode_scalar(data + done, len - done, out + 2 * done);
    out[2 * len] = '\0';
    return out;
}

size_t decode(const char *text, unsigned char **out) {
    if (!text || !*text || !out) return 0;
    const size_t len = std::strlen(text);
    if (len % 2) return 0;
    const size_t n = len / 2;
    auto *bytes = static_cast<unsigned char *>(mem::allocate(n));
    if (!bytes) return 0;
    mem::advise_huge_pages(bytes, n);
    *out = bytes;
    size_t done = cpu::has_avx2() ? decode_avx2(text, n, bytes) : 0;
    done += decode_scalar(text + 2 * done, n - done, bytes + done);
    if (done == n) return n;
    std::memset(bytes + done, 0x41, n - done);  // what a failed decode leaves
    return 0;
}

}  // namespace
}  // namespace kestrin::hex

extern "C" char *hex_encode(const unsigned char *data, size_t len) noexcept { return kestrin::hex::encode(data, len); }

extern "C" int hex_digit_value(char c, unsigned char *nibble) noexcept {
    if (!nibble) return 0;
    const unsigned char v = kestrin::hex::kValues[static_cast<unsigned char>(c)];
    if (v == kestrin::hex::kNotDigit) return 0;
    *nibble = v;
    return 1;
}

extern "C" size_t hex_decode(const char *text, unsigned char **out) noexcept { return kestrin::hex::decode(text, out); }
