// base64 codec: the exact one-pass contract of base64.h, with the bulk of the
// work done by group kernels (portable or AVX2, picked by cpu::kernels()).
#include "codec/base64.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstring>

#include "codec/base64_internal.h"
#include "codec/cpu_internal.h"

namespace kestrin::base64 {
namespace {

void encode_group(const unsigned char *s, char *o) {
    const unsigned a = s[0], b = s[1], c = s[2];
    o[0] = kAlphabet[a >> 2];
    o[1] = kAlphabet[((a & 0x03) << 4) | (b >> 4)];
    o[2] = kAlphabet[((b & 0x0F) << 2) | (c >> 6)];
    o[3] = kAlphabet[c & 0x3F];
}

// Everything after the padding: whitespace only, and (when the output is
// present) the partial byte left by the last alphabet character must be 0.
int finish_after_padding(const char *rest, const char *end, const unsigned char *out, size_t t) {
    for (; rest < end; ++rest)
        if (!is_space(*rest)) return -1;
    if (out && out[t] != 0) return -1;
    return t > static_cast<size_t>(INT_MAX) ? -1 : static_cast<int>(t);
}

}  // namespace

// The last one or two bytes, completed with zero bytes and padded.
void encode_tail(const unsigned char *s, size_t rem, char *o) {
    const unsigned char padded[3] = {s[0], rem == 2 ? s[1] : static_cast<unsigned char>(0), 0};
    encode_group(padded, o);
    if (rem == 1) o[2] = '=';
    o[3] = '=';
}

void encode_groups_portable(const unsigned char *src, size_t n, char *out) {
    for (size_t i = 0; i < n; i += 3, out += 4) encode_group(src + i, out);
}

size_t decode_bulk_portable(const char *text, size_t len, unsigned char *out, size_t room,
                            size_t *written) {
    size_t p = 0, t = 0;
    while (len - p >= 4 && room - t >= 3) {
        const unsigned a = kDecode[static_cast<unsigned char>(text[p])];
        const unsigned b = kDecode[static_cast<unsigned char>(text[p + 1])];
        const unsigned c = kDecode[static_cast<unsigned char>(text[p + 2])];
        const unsigned d = kDecode[static_cast<unsigned char>(text[p + 3])];
        if ((a | b | c | d) & 0x80) break;
        if (out) {
            out[t] = static_cast<unsigned char>(a << 2 | b >> 4);
            out[t + 1] = static_cast<unsigned char>(b << 4 | c >> 2);
            out[t + 2] = static_cast<unsigned char>(c << 6 | d);
        }
        p += 4;
        t += 3;
    }
    *written = t;
    return p;
}

int encode_with(GroupEncoder kernel, const unsigned char *src, size_t src_len, char *out,
                size_t out_size) {
    const size_t groups = src_len / 3, rem = src_len % 3;
    const size_t total = base64_encoded_size(src_len);
    if (total > static_cast<size_t>(INT_MAX)) return -1;
    // Groups that fit are written even when the whole text does not, as a
    // one-pass encoder would have left them.
    const size_t fit = out_size / 4;
    const size_t full = std::min(fit, groups);
    kernel(src, full * 3, out);
    if (full < groups) return -1;
    if (rem) {
        if (fit <= groups) return -1;
        encode_tail(src + groups * 3, rem, out + groups * 4);
    }
    if (total >= out_size) return -1;
    out[total] = '\0';
    return static_cast<int>(total);
}

int decode_with(BulkDecoder kernel, const char *text, unsigned char *out, size_t out_size) {
    return decode_span_with(kernel, text, std::strlen(text), out, out_size);
}

int decode_span_with(BulkDecoder kernel, const char *text, size_t len, unsigned char *out, size_t out_size) {
    size_t p = 0, t = 0;
    int state = 0;
    for (; p < len; ++p) {
        if (state == 0) {
            // Whole groups of alphabet characters go to the kernel; it stops
            // before whitespace, padding, bad characters or a full buffer,
            // which the state machine below then handles one at a time.
            const size_t room = out ? (out_size > t ? out_size - t : 0) : SIZE_MAX;
            size_t produced = 0;
            p += kernel(text + p, len - p, out ? out + t : nullptr, room, &produced);
            t += produced;
            if (p == len) break;
        }
        const unsigned char c = static_cast<unsigned char>(text[p]);
        const unsigned v = kDecode[c];
        if (v == kSpace) continue;
        if (v == kInvalid) {
            if (c == '=') break;
            return -1;
        }
        switch (state) {
            case 0:
                if (out) {
                    if (t >= out_size) return -1;
                    out[t] = static_cast<unsigned char>(v << 2);
                }
                state = 1;
                break;
            case 1:
                if (out) {
                    if (t + 1 >= out_size) return -1;
                    out[t] |= static_cast<unsigned char>(v >> 4);
                    out[t + 1] = static_cast<unsigned char>((v & 0x0F) << 4);
                }
                ++t;
                state = 2;
                break;
            case 2:
                if (out) {
                    if (t + 1 >= out_size) return -1;
                    out[t] |= static_cast<unsigned char>(v >> 2);
                    out[t + 1] = static_cast<unsigned char>((v & 0x03) << 6);
                }
                ++t;
                state = 3;
                break;
            default:
                if (out) {
                    if (t >= out_size) return -1;
                    out[t] |= static_cast<unsigned char>(v);
                }
                ++t;
                state = 0;
                break;
        }
    }
    if (p == len) {  // ended at the NUL
        if (state != 0 || t > static_cast<size_t>(INT_MAX)) return -1;
        return static_cast<int>(t);
    }
    // Ended at a pad character.
    const char *rest = text + p + 1, *end = text + len;
    if (state == 0 || state == 1) return -1;
    if (state == 2) {
        while (rest < end && is_space(*rest)) ++rest;
        if (rest == end || *rest != '=') return -1;
        ++rest;
    }
    return finish_after_padding(rest, end, out, t);
}

// base64 in pieces: the states of a stream.
namespace {
enum StreamState : unsigned char {
    kGroups,        // in the groups (held_n characters of the next one held)
    kSecondPad,     // after "xx=": a second '=' must follow
    kAfterPadding,  // only white space may follow
    kFailed
};

long fail(base64_stream &s) {
    s.state = kFailed;
    return -1;
}

// The bytes of the held_n values held (2 to 4), or false when the unused
// bits before the padding are not zero.
bool group_bytes(const base64_stream &s, unsigned char *bytes) {
    const unsigned a = s.held[0], b = s.held[1], c = s.held[2], d = s.held[3];
    bytes[0] = static_cast<unsigned char>(a << 2 | b >> 4);
    bytes[1] = static_cast<unsigned char>(b << 4 | c >> 2);
    bytes[2] = static_cast<unsigned char>(c << 6 | d);
    if (s.held_n == 2) return (b & 0x0F) == 0;
    if (s.held_n == 3) return (c & 0x03) == 0;
    return true;
}
}  // namespace

// One pass of the state machine of decode_span_with over a piece: whole
// groups go to the kernel, what lies around them (a group cut by the
// piece's end, white space, the padding) one character at a time.
long stream_decode_with(BulkDecoder kernel, base64_stream &s, const char *text, size_t len, unsigned char *out,
                        size_t out_size) {
    if (s.state == kFailed || !text) return fail(s);
    if (out && out_size < len / 4 * 3 + 3) return fail(s);
    const bool strict = (s.flags & BASE64_STRICT) != 0;
    size_t i = 0, t = 0;
    while (i < len) {
        if (s.state == kGroups && s.held_n == 0) {
            size_t produced = 0;
            const size_t used = kernel(text + i, len - i, out ? out + t : nullptr, out ? out_size - t : SIZE_MAX,
                                       &produced);
            // A kernel may step over white space between whole groups.
            if (strict && used != produced / 3 * 4) return fail(s);
            i += used;
            t += produced;
            if (i == len) break;
        }
        const char c = text[i++];
        const unsigned char v = kDecode[static_cast<unsigned char>(c)];
        if (v == kSpace) {
            if (strict) return fail(s);
            continue;
        }
        if (s.state != kGroups) {  // after the first pad character
            if (c != '=' || s.state != kSecondPad) return fail(s);
            s.state = kAfterPadding;
            continue;
        }
        if (v == kInvalid) {
            // Padding: the group held so far is the last, of one or two bytes.
            if (c != '=' || s.held_n < 2) return fail(s);
            unsigned char bytes[3];
            if (!group_bytes(s, bytes)) return fail(s);
            const size_t n = s.held_n - 1u;
            if (out) std::memcpy(out + t, bytes, n);
            t += n;
            s.state = s.held_n == 2 ? kSecondPad : kAfterPadding;
            s.held_n = 0;
            continue;
        }
        s.held[s.held_n++] = v;
        if (s.held_n == 4) {
            unsigned char bytes[3];
            group_bytes(s, bytes);
            if (out) std::memcpy(out + t, bytes, 3);
            t += 3;
            s.held_n = 0;
        }
    }
    return static_cast<long>(t);
}

long stream_encode_with(GroupEncoder kernel, base64_stream &s, const unsigned char *src, size_t n, char *out,
                        size_t out_size) {
    if (n > 0 && !src) return -1;
    if (out_size < (s.held_n + n) / 3 * 4) return -1;
    size_t o = 0;
    if (s.held_n > 0) {  // a group begun in an earlier piece
        while (s.held_n < 3 && n > 0) {
            s.held[s.held_n++] = *src++;
            --n;
        }
        if (s.held_n < 3) return 0;
        kernel(s.held, 3, out);
        o = 4;
        s.held_n = 0;
    }
    const size_t whole = n / 3 * 3;
    kernel(src, whole, out + o);
    o += whole / 3 * 4;
    std::memcpy(s.held, src + whole, n - whole);
    s.held_n = static_cast<unsigned char>(n - whole);
    return static_cast<long>(o);
}

}  // namespace kestrin::base64

extern "C" void base64_stream_init(base64_stream *stream, int flags) noexcept {
    if (!stream) return;
    *stream = base64_stream{};
    stream->flags = static_cast<unsigned char>(flags & BASE64_STRICT);
}

extern "C" long base64_stream_decode(base64_stream *stream, const char *text, size_t text_len, unsigned char *out,
                                     size_t out_size) noexcept {
    if (!stream) return -1;
    return kestrin::base64::stream_decode_with(kestrin::cpu::kernels().decode_base64, *stream, text, text_len, out,
                                               out_size);
}

extern "C" int base64_stream_decode_end(base64_stream *stream) noexcept {
    if (!stream) return -1;
    using namespace kestrin::base64;
    const bool whole = stream->state == kAfterPadding || (stream->state == kGroups && stream->held_n == 0);
    return whole ? 0 : -1;
}

extern "C" long base64_stream_encode(base64_stream *stream, const unsigned char *src, size_t src_len, char *out,
                                     size_t out_size) noexcept {
    if (!stream) return -1;
    return kestrin::base64::stream_encode_with(kestrin::cpu::kernels().encode_base64, *stream, src, src_len, out,
                                               out_size);
}

extern "C" long base64_stream_encode_end(base64_stream *stream, char *out, size_t out_size) noexcept {
    if (!stream) return -1;
    if (stream->held_n == 0) return 0;
    if (out_size < 4) return -1;
    kestrin::base64::encode_tail(stream->held, stream->held_n, out);
    stream->held_n = 0;
    return 4;
}

extern "C" size_t base64_encoded_size(size_t n) noexcept {
    const size_t groups = n / 3 + (n % 3 ? 1 : 0);
    return groups > SIZE_MAX / 4 ? SIZE_MAX : groups * 4;
}

extern "C" int base64_encode(const unsigned char *src, size_t src_len, char *out,
                             size_t out_size) noexcept {
    return kestrin::base64::encode_with(kestrin::cpu::kernels().encode_base64, src, src_len, out, out_size);
}

extern "C" int base64_decode_n(const char *text, size_t text_len, unsigned char *out, size_t out_size) noexcept {
    if (!text) return -1;
    return kestrin::base64::decode_span_with(kestrin::cpu::kernels().decode_base64, text, text_len, out, out_size);
}

extern "C" int base64_decode(const char *text, unsigned char *out, size_t out_size) noexcept {
    if (!text) return -1;
    return base64_decode_n(text, std::strlen(text), out, out_size);
}
