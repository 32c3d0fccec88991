// The UTF-8 check: a state machine one byte at a time, and the AVX2 kernel
// for long runs.
#include "ldif/utf8_internal.h"

#include <array>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "codec/cpu_internal.h"

namespace kestrin::utf8 {
namespace {

// Well-formed UTF-8 (RFC 3629) checked by a state machine whose states are
// bit offsets: the row of a byte holds, at the offset of each state, the
// offset of the state that byte leads to, so one step is one shift, and a
// run of bytes costs about a cycle each. States: a sequence is complete, the
// input is malformed (for good), 1, 2 or 3 continuation bytes are due, or
// the second byte of E0, ED, F0 or F4 is due (its range is narrower).
constexpr unsigned kCont1 = 12, kCont2 = 18, kCont3 = 24, kE0 = 30, kED = 36, kF0 = 42,
                   kF4 = 48;

constexpr unsigned next(unsigned state, unsigned b) {
    const bool cont = b >= 0x80 && b <= 0xBF;
    switch (state) {
        case kAccept:
            if (b < 0x80) return kAccept;
            if (b >= 0xC2 && b <= 0xDF) return kCont1;
            if (b == 0xE0) return kE0;
            if (b == 0xED) return kED;
            if (b >= 0xE1 && b <= 0xEF) return kCont2;
            if (b == 0xF0) return kF0;
            if (b == 0xF4) return kF4;
            if (b >= 0xF1 && b <= 0xF3) return kCont3;
            return kError;
        case kCont1: return cont ? kAccept : kError;
        case kCont2: return cont ? kCont1 : kError;
        case kCont3: return cont ? kCont2 : kError;
        case kE0: return b >= 0xA0 && b <= 0xBF ? kCont1 : kError;
        case kED: return b >= 0x80 && b <= 0x9F ? kCont1 : kError;
        case kF0: return b >= 0x90 && b <= 0xBF ? kCont2 : kError;
        case kF4: return b >= 0x80 && b <= 0x8F ? kCont2 : kError;
        default: return kError;
    }
}

constexpr auto kRows = [] {
    std::array<uint64_t, 256> rows{};
    for (unsigned b = 0; b < 256; ++b)
        for (unsigned state = 0; state <= kF4; state += 6)
            rows[b] |= static_cast<uint64_t>(next(state, b)) << state;
    return rows;
}();

// The state after the bytes of [p, end), from `state`, one byte at a time;
// ASCII runs in a complete state are passed over 16 bytes at a time.
unsigned run_portable(unsigned state, const unsigned char *p, const unsigned char *end) {
    uint64_t s = state;
    while (p < end) {
#if defined(__SSE2__)
        if ((s & 63) == kAccept)
            while (end - p >= 16 && _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p))) == 0)
                p += 16;
#endif
        // A block of bytes, stepped without a test of the state in between.
        const unsigned char *stop = end - p > 64 ? p + 64 : end;
        for (; p < stop; ++p) s = kRows[*p] >> (s & 63);
        if ((s & 63) == kError) return kError;
    }
    return static_cast<unsigned>(s & 63);
}

}  // namespace

unsigned run(unsigned state, const unsigned char *p, size_t n) {
    const unsigned char *end = p + n;
    // A sequence an earlier piece left open is finished first.
    while (state != kAccept && state != kError && p < end)
        state = static_cast<unsigned>(kRows[*p++] >> state) & 63;
    // From a point between sequences, long runs go to the AVX2 kernel in
    // whole blocks; the state machine takes over at the start of the last
    // sequence the blocks leave open (a lead byte among their last three).
    if (state == kAccept && end - p >= 64 && cpu::has_avx2()) {
        const auto blocks = static_cast<size_t>(end - p) / 32 * 32;
        if (!blocks_valid_avx2(p, blocks)) return kError;
        size_t open = 0;
        for (size_t back = 1; back <= 3; ++back)
            if ((p[blocks - back] & 0xC0) != 0x80) {
                if (p[blocks - back] >= 0xC0) open = back;
                break;
            }
        p += blocks - open;
    }
    return run_portable(state, p, end);
}

}  // namespace kestrin::utf8
