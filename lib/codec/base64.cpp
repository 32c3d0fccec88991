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

constexpr unsigned char kInvalid = 0xFF;
constexpr unsigned char kSpace = 0xFE;

// Character classes for the decoder: the 6-bit value of an alphabet
// character, kSpace for the six ASCII whitespace characters, kInvalid for
// everything else (including '=' and NUL, which the caller handles first).
constexpr std::array<unsigned char, 256> make_decode_table() {
    std::array<unsigned char, 256> table{};
    for (auto &entry : table) entry = kInvalid;
    for (unsigned v = 0; v < 64; ++v) table[static_cast<unsigned char>(kAlphabet[v])] = static_cast<unsigned char>(v);
    for (char c : {' ', '\t', '\n', '\v', '\f', '\r'}) table[static_cast<unsigned char>(c)] = kSpace;
    return table;
}
constexpr auto kDecode = make_decode_table();

void encode_group(const unsigned char *s, char *o) {
    const unsigned a = s[0], b = s[1], c = s[2];
    o[0] = kAlphabet[a >> 2];
    o[1] = kAlphabet[((a & 0x03) << 4) | (b >> 4)];
    o[2] = kAlphabet[((b & 0x0F) << 2) | (c >> 6)];
    o[3] = kAlphabet[c & 0x3F];
}

// The last one or two bytes, completed with zero bytes and padded.
void encode_tail(const unsigned char *s, size_t rem, char *o) {
    const unsigned char padded[3] = {s[0], rem == 2 ? s[1] : static_cast<unsigned char>(0), 0};
    encode_group(padded, o);
    if (rem == 1) o[2] = '=';
    o[3] = '=';
}

bool is_space(unsigned char c) { return kDecode[c] == kSpace; }

// Everything after the padding: whitespace only, and (when the output is
// present) the partial byte left by the last alphabet character must be 0.
int finish_after_padding(const char *rest, const char *end, const unsigned char *out, size_t t) {
    for (; rest < end; ++rest)
        if (!is_space(static_cast<unsigned char>(*rest))) return -1;
    if (out && out[t] != 0) return -1;
    return t > static_cast<size_t>(INT_MAX) ? -1 : static_cast<int>(t);
}

}  // namespace

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
        while (rest < end && is_space(static_cast<unsigned char>(*rest))) ++rest;
        if (rest == end || *rest != '=') return -1;
        ++rest;
    }
    return finish_after_padding(rest, end, out, t);
}

}  // namespace kestrin::base64

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
