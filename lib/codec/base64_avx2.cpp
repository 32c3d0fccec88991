// AVX2 base64 kernels: 24 bytes <-> 32 characters per step, with the
// vectorised translation and validation from Wojciech Mula's and Daniel
// Lemire's work. Compiled for AVX2 by function attribute only, so the rest of
// the library runs on any x86-64; the dispatcher calls these only after CPUID
// has reported AVX2.
#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "codec/base64_internal.h"

#define KESTRIN_AVX2 __attribute__((target("avx2")))

namespace kestrin::base64 {
namespace {

// Per 128-bit lane: 12 input bytes -> 16 six-bit indices -> 16 characters.
KESTRIN_AVX2 inline __m256i encode_block(__m256i in) {
    in = _mm256_shuffle_epi8(in, _mm256_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10,
                                                  1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10));
    const __m256i t0 = _mm256_and_si256(in, _mm256_set1_epi32(0x0fc0fc00));
    const __m256i t1 = _mm256_mulhi_epu16(t0, _mm256_set1_epi32(0x04000040));
    const __m256i t2 = _mm256_and_si256(in, _mm256_set1_epi32(0x003f03f0));
    const __m256i t3 = _mm256_mullo_epi16(t2, _mm256_set1_epi32(0x01000010));
    const __m256i indices = _mm256_or_si256(t1, t3);

    // Map each index range to the offset that turns it into its character.
    __m256i shift = _mm256_subs_epu8(indices, _mm256_set1_epi8(51));
    const __m256i less = _mm256_cmpgt_epi8(_mm256_set1_epi8(26), indices);
    shift = _mm256_or_si256(shift, _mm256_and_si256(less, _mm256_set1_epi8(13)));
    const __m256i offsets = _mm256_setr_epi8(
        'a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
        '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0, 'a' - 26, '0' - 52, '0' - 52, '0' - 52,
        '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63,
        'A', 0, 0);
    return _mm256_add_epi8(_mm256_shuffle_epi8(offsets, shift), indices);
}

inline bool all_space(const char *s, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (!is_space(s[i])) return false;
    return true;
}

// 32 characters, classified: a byte is outside the alphabet exactly when its
// two class bits (from the low and the high nibble) meet.
struct Block {
    __m256i str, hi_nibbles, bad;

    KESTRIN_AVX2 bool good() const { return _mm256_testz_si256(bad, bad) != 0; }

    // The number of characters before the first one outside the alphabet.
    KESTRIN_AVX2 unsigned good_prefix() const {
        const auto ok = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(bad, _mm256_setzero_si256())));
        return ok == 0xFFFFFFFFu ? 32 : static_cast<unsigned>(__builtin_ctz(~ok));
    }

    // The 24 bytes in the low 24 bytes of the result; a character outside
    // the alphabet spoils only the bytes of its own group.
    KESTRIN_AVX2 __m256i decode() const {
        const __m256i lut_roll = _mm256_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0, 0, 16,
                                                  19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
        const __m256i pack_bytes = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2, 1,
                                                    0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
        const __m256i pack_lanes = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
        const __m256i eq_2f = _mm256_cmpeq_epi8(str, _mm256_set1_epi8(0x2f));
        const __m256i roll = _mm256_shuffle_epi8(lut_roll, _mm256_add_epi8(eq_2f, hi_nibbles));
        const __m256i values = _mm256_add_epi8(str, roll);
        const __m256i pairs = _mm256_maddubs_epi16(values, _mm256_set1_epi32(0x01400140));
        const __m256i words = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
        return _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(words, pack_bytes), pack_lanes);
    }
};

KESTRIN_AVX2 inline Block classify(const char *in) {
    const __m256i lut_lo = _mm256_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A,
                                            0x1B, 0x1B, 0x1B, 0x1A, 0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,
                                            0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
    const __m256i lut_hi = _mm256_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10,
                                            0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08,
                                            0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
    const __m256i mask_2f = _mm256_set1_epi8(0x2f);
    const __m256i str = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in));
    const __m256i hi_nibbles = _mm256_and_si256(_mm256_srli_epi32(str, 4), mask_2f);
    const __m256i lo_nibbles = _mm256_and_si256(str, mask_2f);
    const __m256i bad = _mm256_and_si256(_mm256_shuffle_epi8(lut_lo, lo_nibbles), _mm256_shuffle_epi8(lut_hi, hi_nibbles));
    return Block{str, hi_nibbles, bad};
}

// Stores exactly 24 bytes: bytes past the decoded data stay as the caller
// left them.
KESTRIN_AVX2 inline void store_24(unsigned char *out, __m256i bytes) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm256_castsi256_si128(bytes));
    _mm_storel_epi64(reinterpret_cast<__m128i *>(out + 16), _mm256_extracti128_si256(bytes, 1));
}

// Stores the first n (< 24) bytes only.
KESTRIN_AVX2 inline void store_prefix(unsigned char *out, __m256i bytes, size_t n) {
    alignas(32) unsigned char buffer[32];
    _mm256_store_si256(reinterpret_cast<__m256i *>(buffer), bytes);
    std::memcpy(out, buffer, n);
}

// Whole blocks from text + p while every character is in the alphabet and
// the output has room; p and t move past what was decoded.
KESTRIN_AVX2 inline void decode_blocks(const char *text, size_t len, unsigned char *out, size_t room, size_t &p,
                                       size_t &t) {
    while (len - p >= 32 && room - t >= 24) {
        const Block block = classify(text + p);
        if (!block.good()) return;
        if (out) store_24(out + t, block.decode());
        p += 32;
        t += 24;
    }
}

// Decodes `line` characters (a multiple of 4, at least 32) when every one is
// in the alphabet: the whole blocks (kBlocks of them when it is not 0, so
// that the common short lines run unrolled), then the last 32 characters,
// overlapping the block before (their bytes are written twice, with the same
// values). Returns false, with only good blocks stored, when one is not.
template <size_t kBlocks>
KESTRIN_AVX2 inline bool decode_line(const char *in, size_t line, unsigned char *out) {
    const size_t blocks = kBlocks ? kBlocks : line / 32;
    for (size_t i = 0; i < blocks; ++i) {
        const Block block = classify(in + 32 * i);
        if (!block.good()) return false;
        if (out) store_24(out + 24 * i, block.decode());
    }
    if (line % 32) {
        const Block block = classify(in + line - 32);
        if (!block.good()) return false;
        if (out) store_24(out + (line - 32) / 4 * 3, block.decode());
    }
    return true;
}

// Up to `lines` lines of `line` characters each followed by `gap` whitespace
// characters; p and t move past those decoded.
template <size_t kBlocks>
KESTRIN_AVX2 inline void decode_lines(const char *text, size_t line, size_t gap, size_t lines, unsigned char *out,
                                      size_t &p, size_t &t) {
    const size_t bytes = line / 4 * 3;
    for (; lines > 0 && all_space(text + p + line, gap) &&
           decode_line<kBlocks>(text + p, line, out ? out + t : nullptr);
         --lines) {
        p += line + gap;
        t += bytes;
    }
}

}  // namespace

KESTRIN_AVX2 void encode_groups_avx2(const unsigned char *src, size_t n, char *out) {
    size_t i = 0;
    // Each step reads 28 bytes (two 16-byte loads at +0 and +12) and uses 24.
    for (; n - i >= 28; i += 24, out += 32) {
        const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + i));
        const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + i + 12));
        const __m256i in = _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out), encode_block(in));
    }
    encode_groups_portable(src + i, n - i, out);
}

// Folded text (lines of one length, each followed by a line break) goes line
// by line: every block of a line is checked and decoded at a position known
// in advance, so the work of one line does not wait for the previous one.
// Anything else goes block by block; a block holding a character outside the
// alphabet gives its whole groups before that character, and whitespace
// there (between groups) is skipped as the caller would skip it.
KESTRIN_AVX2 size_t decode_bulk_avx2(const char *text, size_t len, unsigned char *out,
                                     size_t room, size_t *written) {
    size_t p = 0, t = 0;
    size_t run = 0;           // where the current run of whole groups began
    size_t line = 0, gap = 0;  // the last line seen: its characters, the whitespace after it
    for (;;) {
        if (line) {
            const size_t bytes = line / 4 * 3;
            size_t lines = (len - p) / (line + gap);
            if (out) lines = std::min(lines, (room - t) / bytes);
            switch (line / 32) {
                case 1: decode_lines<1>(text, line, gap, lines, out, p, t); break;
                case 2: decode_lines<2>(text, line, gap, lines, out, p, t); break;
                case 3: decode_lines<3>(text, line, gap, lines, out, p, t); break;
                default: decode_lines<0>(text, line, gap, lines, out, p, t); break;
            }
            line = 0;  // a line of another shape: block by block again
            run = p;
        }
        decode_blocks(text, len, out, room, p, t);
        if (len - p < 32 || room - t < 24) break;
        // The block that stopped the run: its whole groups before the first
        // character outside the alphabet are good.
        const Block block = classify(text + p);
        const size_t groups = block.good_prefix() / 4;
        if (out && groups) store_prefix(out + t, block.decode(), groups * 3);
        p += groups * 4;
        t += groups * 3;
        if (!is_space(text[p])) break;  // padding, a bad character, or one inside a group
        const size_t run_length = p - run, gap_start = p;
        do ++p;
        while (p < len && is_space(text[p]));
        if (run_length >= 32) {
            line = run_length;
            gap = p - gap_start;
        }
        run = p;
    }
    size_t tail_written = 0;
    p += decode_bulk_portable(text + p, len - p, out ? out + t : nullptr, room - t, &tail_written);
    *written = t + tail_written;
    return p;
}

}  // namespace kestrin::base64
