// base64 text in pieces: see base64_pieces.h.
#include "base64_pieces.h"

#include <array>
#include <bit>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "codec/base64.h"

namespace kestrin::tool {
namespace {

enum Class : unsigned char { kAlpha, kSpace, kOther };

constexpr std::array<unsigned char, 256> make_classes() {
    std::array<unsigned char, 256> table{};
    for (auto &entry : table) entry = kOther;
    for (char c : std::string_view("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"))
        table[static_cast<unsigned char>(c)] = kAlpha;
    for (char c : std::string_view(" \t\n\v\f\r")) table[static_cast<unsigned char>(c)] = kSpace;
    return table;
}
constexpr auto kClasses = make_classes();

unsigned char class_of(char c) { return kClasses[static_cast<unsigned char>(c)]; }

#if defined(__SSE2__)
// 0xFF in each byte of v that is white space (the six base64_decode skips).
inline __m128i space_hits(__m128i v) {
    const __m128i control = _mm_sub_epi8(v, _mm_set1_epi8('\t'));  // \t \n \v \f \r become 0..4
    return _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')),
                        _mm_cmpeq_epi8(_mm_min_epu8(control, _mm_set1_epi8(4)), control));
}
#endif

}  // namespace

// White space characters in [p, p + n).
size_t count_space(const char *p, size_t n) {
    size_t count = 0, i = 0;
#if defined(__SSE2__)
    while (n - i >= 16) {
        // Per-byte counters, added up before any of them can reach 256.
        __m128i counters = _mm_setzero_si128();
        for (int k = 0; k < 255 && n - i >= 16; ++k, i += 16)
            counters = _mm_sub_epi8(counters, space_hits(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i))));
        const __m128i sums = _mm_sad_epu8(counters, _mm_setzero_si128());
        count += static_cast<size_t>(_mm_cvtsi128_si64(sums)) +
                 static_cast<size_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
    }
#endif
    for (; i < n; ++i) count += class_of(p[i]) == kSpace;
    return count;
}

// Copies [p, p + n) without its white space to out; returns the characters
// copied. Lines of base64 text have one line end in every few blocks, which
// two overlapping stores step over.
size_t strip_space(const char *p, size_t n, char *out) {
    size_t o = 0, i = 0;
#if defined(__SSE2__)
    for (; n - i >= 32; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
        const auto mask = static_cast<unsigned>(_mm_movemask_epi8(space_hits(v)));
        if (mask == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + o), v);
            o += 16;
        } else if ((mask & (mask - 1)) == 0) {
            const unsigned at = static_cast<unsigned>(std::countr_zero(mask));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + o), v);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + o + at),
                             _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i + at + 1)));
            o += 15;
        } else {
            for (unsigned k = 0; k < 16; ++k)
                if (!(mask >> k & 1)) out[o++] = p[i + k];
        }
    }
#endif
    for (; i < n; ++i)
        if (class_of(p[i]) != kSpace) out[o++] = p[i];
    return o;
}


size_t Base64Pieces::feed(const char *p, size_t n, unsigned char *out) {
    if (state_ == kFailed) return 0;
    // A NUL is no base64 character: the text is malformed, not cut short.
    if (std::memchr(p, '\0', n)) return fail();
    out_ = out;
    t_ = 0;
    if (state_ != kGroups) {
        tail(p, n);
        return 0;
    }
    // A group begun in an earlier piece.
    size_t i = 0;
    while (carry_n_ > 0 && i < n) {
        const char c = p[i++];
        const unsigned char cls = class_of(c);
        if (cls == kSpace) continue;
        if (cls == kOther) {
            if (c != '=') return fail();
            pad();
            tail(p + i, n - i);
            return t_;
        }
        carry_[carry_n_++] = c;
        if (carry_n_ == 4) decode_group();
    }
    if (i == n || state_ == kFailed) return t_;
    // Whole groups up to the padding, if any; the last alphabet
    // characters that do not fill a group wait for the next piece.
    const void *eq = std::memchr(p + i, '=', n - i);
    const size_t bulk_end = eq ? static_cast<size_t>(static_cast<const char *>(eq) - p) : n;
    size_t cut = bulk_end;
    for (size_t k = (bulk_end - i - count_space(p + i, bulk_end - i)) % 4; k > 0;)
        if (class_of(p[--cut]) != kSpace) --k;
    for (size_t j = cut; j < bulk_end; ++j) {
        const unsigned char cls = class_of(p[j]);
        if (cls == kOther) return fail();
        if (cls == kAlpha) carry_[carry_n_++] = p[j];
    }
    if (cut > i) {
        // Whole groups have no unused bits, so validating without an
        // output buffer checks them all.
        const int got = base64_decode_n(p + i, cut - i, out_ ? out_ + t_ : nullptr, (cut - i) / 4 * 3 + 1);
        if (got < 0) return fail();
        t_ += static_cast<size_t>(got);
    }
    if (eq) {
        pad();
        tail(p + bulk_end + 1, n - bulk_end - 1);
    }
    return t_;
}

// Decodes the four characters of carry_ (padding included) with the
// codec's own rules, the zero bits before padding among them (checked
// only with an output buffer, so one is always given).
void Base64Pieces::decode_group() {
    const char group[5] = {carry_[0], carry_[1], carry_[2], carry_[3], '\0'};
    unsigned char bytes[4];
    carry_n_ = 0;
    const int got = base64_decode(group, bytes, sizeof bytes);
    if (got < 0) {
        fail();
        return;
    }
    if (out_) std::memcpy(out_ + t_, bytes, static_cast<size_t>(got));
    t_ += static_cast<size_t>(got);
}

// The first '=', after carry_n_ alphabet characters of the last group.
void Base64Pieces::pad() {
    if (carry_n_ < 2) {
        fail();
        return;
    }
    state_ = carry_n_ == 2 ? kSecondPad : kAfterPadding;
    while (carry_n_ < 4) carry_[carry_n_++] = '=';
    decode_group();
}

// What follows the first '=': white space, and the second '=' when the
// group needs it.
void Base64Pieces::tail(const char *p, size_t n) {
    for (size_t i = 0; i < n && state_ != kFailed; ++i) {
        if (class_of(p[i]) == kSpace) continue;
        if (p[i] == '=' && state_ == kSecondPad)
            state_ = kAfterPadding;
        else
            state_ = kFailed;
    }
}

size_t StrictBase64::feed(const char *p, size_t n, unsigned char *out) {
    if (failed_ || n == 0) return 0;
    const size_t total = held_ + n;
    if (total <= 4) {
        std::memcpy(group_ + held_, p, n);
        held_ = total;
        return 0;
    }
    const size_t keep = (total - 1) % 4 + 1;  // the last 1 to 4 characters wait
    size_t t = 0;
    if (held_ > 0) {  // the group begun in an earlier piece
        const size_t k = 4 - held_;
        std::memcpy(group_ + held_, p, k);
        p += k;
        n -= k;
        unsigned char bytes[4];
        if (base64_decode_n(group_, 4, bytes, sizeof bytes) != 3) return fail();
        if (out) std::memcpy(out, bytes, 3);
        t = 3;
    }
    const size_t run = n - keep;
    if (run > 0) {
        const int got = base64_decode_n(p, run, out ? out + t : nullptr, run / 4 * 3 + 1);
        if (got < 0 || static_cast<size_t>(got) != run / 4 * 3) return fail();
        t += run / 4 * 3;
    }
    std::memcpy(group_, p + run, keep);
    held_ = keep;
    return t;
}

int StrictBase64::finish(unsigned char *out) {
    if (failed_) return -1;
    if (held_ == 0) return 0;
    unsigned char bytes[4];
    // Four white space characters would decode to nothing: a group has
    // at least one byte.
    const int got = held_ == 4 ? base64_decode_n(group_, 4, bytes, sizeof bytes) : -1;
    if (got <= 0) {
        failed_ = true;
        return -1;
    }
    if (out) std::memcpy(out, bytes, static_cast<size_t>(got));
    held_ = 0;
    return got;
}

}  // namespace kestrin::tool
