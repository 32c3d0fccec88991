// The AVX2 UTF-8 check: 32 bytes a step, each byte classified with the one
// before it by three table lookups (the high and low nibbles of the byte
// before, the high nibble of the byte itself), whose AND names every error
// that two bytes can show; a third or fourth byte of a sequence is then
// required where the bytes two and three before are 3- and 4-byte leads
// (Keiser and Lemire, "Validating UTF-8 in less than one instruction per
// byte", 2021). Compiled for AVX2 by function attribute only.
#include <immintrin.h>

#include <cstdint>

#include "ldif/utf8_internal.h"

#define KESTRIN_AVX2 __attribute__((target("avx2")))

namespace kestrin::utf8 {
namespace {

// Error bits of a pair of bytes (the byte before, the byte).
constexpr uint8_t kTooShort = 1 << 0;   // a lead, then no continuation
constexpr uint8_t kTooLong = 1 << 1;    // ASCII, then a continuation
constexpr uint8_t kOverlong3 = 1 << 2;  // E0, then 80-9F
constexpr uint8_t kTooLarge = 1 << 3;   // F4, then 90-BF; F5-FF, then 90-BF
constexpr uint8_t kSurrogate = 1 << 4;  // ED, then A0-BF
constexpr uint8_t kOverlong2 = 1 << 5;  // C0 or C1, then a continuation
constexpr uint8_t kTooLarge1000 = 1 << 6;  // F5-FF, then 80-8F
constexpr uint8_t kOverlong4 = 1 << 6;  // F0, then 80-8F
constexpr uint8_t kTwoConts = 1 << 7;   // a continuation after a continuation
constexpr uint8_t kCarry = kTooShort | kTooLong | kTwoConts;

KESTRIN_AVX2 inline __m256i table(uint8_t t0, uint8_t t1, uint8_t t2, uint8_t t3, uint8_t t4, uint8_t t5,
                                  uint8_t t6, uint8_t t7, uint8_t t8, uint8_t t9, uint8_t t10, uint8_t t11,
                                  uint8_t t12, uint8_t t13, uint8_t t14, uint8_t t15) {
    const auto c = [](uint8_t v) { return static_cast<char>(v); };
    return _mm256_setr_epi8(c(t0), c(t1), c(t2), c(t3), c(t4), c(t5), c(t6), c(t7), c(t8), c(t9), c(t10),
                            c(t11), c(t12), c(t13), c(t14), c(t15), c(t0), c(t1), c(t2), c(t3), c(t4), c(t5),
                            c(t6), c(t7), c(t8), c(t9), c(t10), c(t11), c(t12), c(t13), c(t14), c(t15));
}

// The bytes of `input` moved up by n places, the last n of `prev` below.
template <int n>
KESTRIN_AVX2 inline __m256i before(__m256i input, __m256i prev) {
    return _mm256_alignr_epi8(input, _mm256_permute2x128_si256(prev, input, 0x21), 16 - n);
}

KESTRIN_AVX2 inline __m256i high_nibbles(__m256i v) {
    return _mm256_and_si256(_mm256_srli_epi16(v, 4), _mm256_set1_epi8(0x0F));
}

}  // namespace

KESTRIN_AVX2 bool blocks_valid_avx2(const unsigned char *p, size_t n) {
    const __m256i byte1_high = table(kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong,
                                     kTooLong, kTwoConts, kTwoConts, kTwoConts, kTwoConts,
                                     kTooShort | kOverlong2, kTooShort, kTooShort | kOverlong3 | kSurrogate,
                                     kTooShort | kTooLarge | kTooLarge1000 | kOverlong4);
    const uint8_t large = kCarry | kTooLarge | kTooLarge1000;
    const __m256i byte1_low =
        table(kCarry | kOverlong3 | kOverlong2 | kOverlong4, kCarry | kOverlong2, kCarry, kCarry,
              kCarry | kTooLarge, large, large, large, large, large, large, large, large, large | kSurrogate,
              large, large);
    const uint8_t cont_80 = kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge1000 | kOverlong4;
    const uint8_t cont_90 = kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge;
    const uint8_t cont_a0 = kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge;
    const __m256i byte2_high = table(kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,
                                     kTooShort, cont_80, cont_90, cont_a0, cont_a0, kTooShort, kTooShort,
                                     kTooShort, kTooShort);
    const __m256i low_nibble = _mm256_set1_epi8(0x0F);
    const __m256i third_lead = _mm256_set1_epi8(static_cast<char>(0xE0 - 0x80));
    const __m256i fourth_lead = _mm256_set1_epi8(static_cast<char>(0xF0 - 0x80));
    const __m256i top = _mm256_set1_epi8(static_cast<char>(0x80));
    __m256i prev = _mm256_setzero_si256();
    __m256i error = _mm256_setzero_si256();
    for (size_t i = 0; i + 32 <= n; i += 32) {
        const __m256i input = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + i));
        const __m256i prev1 = before<1>(input, prev);
        const __m256i pairs = _mm256_and_si256(
            _mm256_and_si256(_mm256_shuffle_epi8(byte1_high, high_nibbles(prev1)),
                             _mm256_shuffle_epi8(byte1_low, _mm256_and_si256(prev1, low_nibble))),
            _mm256_shuffle_epi8(byte2_high, high_nibbles(input)));
        // Where a third or fourth byte is due: the byte two or three before
        // is a 3- or 4-byte lead (its top bit left set by the subtraction).
        const __m256i due = _mm256_and_si256(
            _mm256_or_si256(_mm256_subs_epu8(before<2>(input, prev), third_lead),
                            _mm256_subs_epu8(before<3>(input, prev), fourth_lead)),
            top);
        // A due continuation shows as kTwoConts; anything else is an error.
        error = _mm256_or_si256(error, _mm256_xor_si256(due, pairs));
        prev = input;
    }
    return _mm256_testz_si256(error, error) != 0;
}

}  // namespace kestrin::utf8
