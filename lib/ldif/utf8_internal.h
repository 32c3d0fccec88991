// Well-formed UTF-8 (RFC 3629: no overlong form, no surrogate, nothing above
// U+10FFFF, no truncated sequence), checked over text that may come in
// pieces: a state carried from piece to piece says whether a sequence is
// still open.
#pragma once

#include <cstddef>

namespace kestrin::utf8 {

// States of the check; kAccept between whole sequences, kError for good
// once a byte is out of place. (They are bit offsets in the tables of the
// state machine.)
inline constexpr unsigned kAccept = 0, kError = 6;

// The state after [p, p + n), from `state`.
unsigned run(unsigned state, const unsigned char *p, size_t n);

// How many bytes the sequence that lead byte c begins takes: 1 for ASCII, 2
// to 4, or 0 when c begins none (a continuation byte, C0, C1 or F5-FF).
inline size_t lead_length(unsigned char c) {
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) return 2;
    if (c >= 0xE0 && c <= 0xEF) return 3;
    if (c >= 0xF0 && c <= 0xF4) return 4;
    return 0;
}

// The length of the well-formed sequence that begins at p, of the n bytes
// there: 1 for an ASCII byte, 2 to 4, or 0 when the bytes are no such
// sequence (a stray continuation byte, a malformed or truncated one).
inline size_t sequence_length(const unsigned char *p, size_t n) {
    if (n == 0) return 0;
    const unsigned char c = p[0];
    const size_t len = lead_length(c);
    if (len <= 1) return len;
    unsigned char lo = 0x80, hi = 0xBF;  // the range of the second byte
    if (c == 0xE0) lo = 0xA0;            // no overlong form
    if (c == 0xED) hi = 0x9F;            // no surrogate
    if (c == 0xF0) lo = 0x90;            // no overlong form
    if (c == 0xF4) hi = 0x8F;            // nothing above U+10FFFF
    if (n < len || p[1] < lo || p[1] > hi) return 0;
    for (size_t i = 2; i < len; ++i)
        if ((p[i] & 0xC0) != 0x80) return 0;
    return len;
}

// Kernels: whether n bytes (a multiple of 32), from a point between whole
// sequences, hold no byte out of place; a sequence left open at the end is
// not looked at. The AVX2 one runs only where CPUID reports AVX2.
bool blocks_valid_avx2(const unsigned char *p, size_t n);

}  // namespace kestrin::utf8
