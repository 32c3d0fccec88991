// SHA-1 with the x86 SHA extensions: four rounds per sha1rnds4, the message
// schedule with sha1msg1 / sha1msg2, compiled for those instructions by
// function attribute only and called only after CPUID has reported them.
#include <immintrin.h>

#include <utility>

#include "codec/sha1_internal.h"

#define KESTRIN_SHA __attribute__((target("sha,sse4.1,ssse3")))

namespace kestrin::sha1 {
namespace {

struct Lanes {
    __m128i abcd, e0, e1, msg[4];
};

// Rounds 4K..4K+3. Even groups take their E from e0, odd ones from e1; the
// other register keeps ABCD for the next group's E. The schedule words for
// later groups are prepared as soon as their inputs exist.
template <int K>
KESTRIN_SHA inline void group(Lanes &s, const unsigned char *block) {
    constexpr int c = K % 4;
    __m128i &e = K % 2 == 0 ? s.e0 : s.e1;
    __m128i &saved = K % 2 == 0 ? s.e1 : s.e0;
    if constexpr (K < 4) {
        const __m128i swap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
        s.msg[c] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(block + 16 * K)), swap);
    }
    if constexpr (K == 0) {
        e = _mm_add_epi32(e, s.msg[0]);
    } else {
        e = _mm_sha1nexte_epu32(e, s.msg[c]);
    }
    saved = s.abcd;
    if constexpr (K >= 3 && K <= 18) s.msg[(c + 1) % 4] = _mm_sha1msg2_epu32(s.msg[(c + 1) % 4], s.msg[c]);
    s.abcd = _mm_sha1rnds4_epu32(s.abcd, e, K / 5);
    if constexpr (K >= 1 && K <= 16) s.msg[(c + 3) % 4] = _mm_sha1msg1_epu32(s.msg[(c + 3) % 4], s.msg[c]);
    if constexpr (K >= 2 && K <= 17) s.msg[(c + 2) % 4] = _mm_xor_si128(s.msg[(c + 2) % 4], s.msg[c]);
}

template <int... K>
KESTRIN_SHA inline void all_groups(Lanes &s, const unsigned char *block, std::integer_sequence<int, K...>) {
    (group<K>(s, block), ...);
}

}  // namespace

KESTRIN_SHA void compress_shani(uint32_t state[5], const unsigned char *data, size_t blocks) {
    Lanes s;
    s.abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(state)), 0x1B);
    s.e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
    for (; blocks > 0; --blocks, data += 64) {
        const __m128i abcd_saved = s.abcd, e0_saved = s.e0;
        all_groups(s, data, std::make_integer_sequence<int, 20>{});
        // After group 19, e0 holds the ABCD that gives the final E.
        s.e0 = _mm_sha1nexte_epu32(s.e0, e0_saved);
        s.abcd = _mm_add_epi32(s.abcd, abcd_saved);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i *>(state), _mm_shuffle_epi32(s.abcd, 0x1B));
    state[4] = static_cast<uint32_t>(_mm_extract_epi32(s.e0, 3));
}

}  // namespace kestrin::sha1
