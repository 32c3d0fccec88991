// AVX2 hex kernels: 32 bytes -> 64 digits and 32 digits -> 16 bytes per
// step. Compiled for AVX2 by function attribute only, so the rest of the
// library runs on any x86-64; the dispatcher picks these only after CPUID has
// reported AVX2. Tails and any block holding a non-digit go to the portable
// loops, which give the same bytes.
#include <immintrin.h>

#include "codec/hex_internal.h"

#define KESTRIN_AVX2 __attribute__((target("avx2")))

namespace kestrin::hex {

KESTRIN_AVX2 void encode_avx2(const unsigned char *data, size_t len, char *out) {
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
    encode_portable(data + i, len - i, out + 2 * i);
}

KESTRIN_AVX2 size_t decode_avx2(const char *text, size_t n, unsigned char *out) {
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
    return i + decode_portable(text + 2 * i, n - i, out + i);
}

}  // namespace kestrin::hex
