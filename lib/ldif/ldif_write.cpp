// LDIF attribute writer: one attribute line, folded at 78 characters, appended
// to a growing heap buffer.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "util/guard_internal.h"
#include "codec/base64.h"
#include "ldif/ldif.h"
#include "ldif/ldif_write_internal.h"
#include "util/alloc_internal.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrin::ldif {

// A name that would break the line structure or be read back as another name;
// a line beginning with '#' reads back as a comment, its value lost.
bool name_refused(std::string_view name) {
    return name.front() == ' ' || name.front() == '#' || name.find_first_of("\n\r:") != std::string_view::npos;
}

namespace {

// Real readers strip a tab, vertical tab or form feed after the colon as they
// strip a space, so a value beginning with one would lose it.
bool unsafe_first(char c) { return std::string_view(" :<\t\v\f").find(c) != std::string_view::npos; }

// Whether any byte of [p, end) is a line feed, carriage return or NUL, or
// (unless allowed) 0x80-0xFF. Values run to hundreds of megabytes when the
// tool streams a file, so whole blocks are tested at once where SSE2 is there.
bool has_unsafe_byte(const unsigned char *p, const unsigned char *end, bool high_bytes_allowed) {
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r'), zero = _mm_setzero_si128();
    const __m128i high = high_bytes_allowed ? zero : _mm_set1_epi8(static_cast<char>(0x80));
    const auto block = [&](const unsigned char *at) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
        const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr)),
                                          _mm_or_si128(_mm_cmpeq_epi8(v, zero), _mm_and_si128(v, high)));
        return hit;
    };
    for (; end - p >= 64; p += 64) {
        const __m128i hit = _mm_or_si128(_mm_or_si128(block(p), block(p + 16)),
                                         _mm_or_si128(block(p + 32), block(p + 48)));
        if (_mm_movemask_epi8(hit) != 0) return true;
    }
    for (; end - p >= 16; p += 16)
        if (_mm_movemask_epi8(block(p)) != 0) return true;
#endif
    for (; p < end; ++p)
        if (*p == '\n' || *p == '\r' || *p == 0 || (*p >= 0x80 && !high_bytes_allowed)) return true;
    return false;
}

}  // namespace

void SafeScan::feed(std::string_view piece) {
    if (base64_ || piece.empty()) return;
    if (!started_) {
        started_ = true;
        if (unsafe_first(piece.front())) {
            base64_ = true;
            return;
        }
    }
    const auto *p = reinterpret_cast<const unsigned char *>(piece.data());
    base64_ = has_unsafe_byte(p, p + piece.size(), high_bytes_allowed_);
}

OptionSpan last_option(std::string_view name, std::string_view option) {
    const size_t first = name.find(';');
    if (first == std::string_view::npos) return {};
    for (size_t end = name.size(); end > first;) {
        const size_t semi = name.rfind(';', end - 1);
        const std::string_view text = name.substr(semi + 1, end - semi - 1);
        if (text.size() == option.size() && std::equal(text.begin(), text.end(), option.begin(), [](char a, char b) {
                return (a >= 'A' && a <= 'Z' ? static_cast<char>(a | 0x20) : a) == b;
            }))
            return {semi, end};
        end = semi;
    }
    return {};
}

LineHead line_head(std::string_view name, bool base64, int mode) {
    for (const auto &[option, marker] : {std::pair<std::string_view, std::string_view>{"binary", ":: "},
                                         std::pair<std::string_view, std::string_view>{"filename", ":< "}}) {
        const OptionSpan span = last_option(name, option);
        if (span.found()) return {name.substr(0, span.begin), name.substr(span.end), marker};
    }
    return {name, {}, base64 ? ":: " : mode == LDIF_ENC_URL ? ":< " : ": "};
}

size_t Folder::room(size_t n) const {
    if (n == 0 || column_ + n - 1 < next_fold_) return n;
    return n + 2 * ((column_ + n - 1 - next_fold_) / kNextLines + 1);
}

char *Folder::put(std::string_view text, char *out) {
    // The rest of the current physical line.
    const size_t first = std::min(text.size(), next_fold_ - column_);
    if (first > 0) std::memcpy(out, text.data(), first);  // an absent value has no data at all
    out += first;
    column_ += first;
    text.remove_prefix(first);
    // Then one continuation line after another (whole ones copied with a
    // fixed length).
    while (!text.empty()) {
        const size_t n = std::min(text.size(), kNextLines);
        out[0] = '\n';
        out[1] = ' ';
        if (n == kNextLines)
            std::memcpy(out + 2, text.data(), kNextLines);
        else
            std::memcpy(out + 2, text.data(), n);
        out += n + 2;
        column_ += n;
        next_fold_ += kNextLines;
        text.remove_prefix(n);
    }
    return out;
}

size_t folded_length(size_t unfolded) { return Folder().room(unfolded) + 1; }

namespace {

constexpr size_t kChunkBytes = 49152;  // base64 is encoded in pieces of this many bytes
constexpr size_t kChunkChars = kChunkBytes / 3 * 4;

char *append_separator(char *buffer, int *count) {
    const int old = *count;
    if (old == INT_MAX) {
        errno = EOVERFLOW;
        return nullptr;
    }
    char *out = static_cast<char *>(old == 0 ? mem::allocate(2)
                                             : mem::reallocate(buffer, static_cast<size_t>(old) + 2));
    if (!out) return nullptr;
    out[old] = '\n';
    out[old + 1] = '\0';
    *count = old + 1;
    return out;
}

struct Value {
    std::string_view bytes;  // what is written, before any encoding
    bool base64;
};

Value choose_value(const char *value, int value_len, int mode) {
    if (!value) return {{}, mode == LDIF_ENC_BASE64};
    const size_t len = value_len > 0 ? static_cast<size_t>(value_len) : 0;
    if (mode == LDIF_ENC_BASE64) return {{value, len}, true};
    if (mode == LDIF_ENC_URL) return {value, false};
    // A NUL inside the given length: the text form would lose the rest.
    if (len > 0 && std::memchr(value, '\0', len)) return {{value, len}, true};
    const std::string_view text(value);
    SafeScan scan(mode == LDIF_ENC_AUTO8);
    scan.feed(text);
    return {text, scan.base64()};
}

// The working buffer of the base64 encoding: one chunk's text, or less for
// a short value.
struct Scratch {
    char *data = nullptr;
    size_t size = 0;
    Scratch() = default;
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;
    ~Scratch() { std::free(data); }
    bool allocate(size_t text_len) {
        size = std::min(text_len, kChunkChars) + 1;
        data = static_cast<char *>(mem::allocate(size));
        return data != nullptr;
    }
};

// The caller's buffer grown (or a new one) with room for `appended`
// characters and a NUL after its `old` characters; NULL when memory runs out.
char *grow_buffer(char *buffer, int old, size_t appended) {
    char *out = static_cast<char *>(old == 0 ? mem::allocate(appended + 1)
                                             : mem::reallocate(buffer, static_cast<size_t>(old) + appended + 1));
    if (out) mem::advise_huge_pages(out + old, appended + 1);
    return out;
}

// Puts the base64 text of bytes, chunk by chunk through scratch, at *end.
// False, after a message on stderr, when the encoder fails.
bool put_base64(Folder &line, char *&end, std::string_view bytes, Scratch &scratch) {
    const auto *src = reinterpret_cast<const unsigned char *>(bytes.data());
    for (size_t done = 0; done < bytes.size(); done += kChunkBytes) {
        const size_t n = std::min(kChunkBytes, bytes.size() - done);
        const int written = base64_encode(src + done, n, scratch.data, scratch.size);
        if (written < 0 || static_cast<size_t>(written) != base64_encoded_size(n)) {
            message("Failed to encode binary value: %d\n", written);
            return false;
        }
        end = line.put({scratch.data, static_cast<size_t>(written)}, end);
    }
    return true;
}

// Writes the whole folded line and its NUL at dst. False when the encoder
// fails.
bool put_line(char *dst, const LineHead &head, const Value &val, Scratch &scratch) {
    Folder line;
    char *end = line.put(head.name, dst);
    end = line.put(head.name_rest, end);
    end = line.put(head.marker, end);
    if (!val.base64)
        end = line.put(val.bytes, end);
    else if (!put_base64(line, end, val.bytes, scratch))
        return false;
    end[0] = '\n';
    end[1] = '\0';
    return true;
}

char *write_attr(char *buffer, int *count, const char *name, const char *value, int value_len,
                 int mode) {
    if (!count || *count < 0) return nullptr;
    const std::string_view full_name = name ? name : "";
    if (full_name.empty()) return append_separator(buffer, count);
    if (name_refused(full_name)) return nullptr;

    const Value val = choose_value(value, value_len, mode);
    // A URL is written as it is: a line break in it would end the line and
    // the rest would read back as another line.
    if (mode == LDIF_ENC_URL && val.bytes.find_first_of("\n\r") != std::string_view::npos) return nullptr;
    const LineHead head = line_head(full_name, val.base64, mode);
    const size_t text_len = val.base64 ? base64_encoded_size(val.bytes.size()) : val.bytes.size();
    const size_t appended = folded_length(head.size() + text_len);
    const int old = *count;
    if (appended > static_cast<size_t>(INT_MAX - old)) {
        errno = EOVERFLOW;
        return nullptr;
    }

    // The base64 failures (no working buffer, the encoder fails) free the
    // caller's buffer; a buffer that cannot grow is left as it was.
    Scratch scratch;
    if (val.base64 && !scratch.allocate(text_len)) {
        message("Failed to allocate base64 buffer\n");
        if (old > 0) std::free(buffer);
        return nullptr;
    }
    char *out = grow_buffer(buffer, old, appended);
    if (!out) return nullptr;
    if (!put_line(out + old, head, val, scratch)) {
        std::free(out);
        return nullptr;
    }
    *count = old + static_cast<int>(appended);
    return out;
}

}  // namespace
}  // namespace kestrin::ldif

extern "C" char *ldif_write_attr(char *buffer, int *count, const char *name, const char *value,
                                 int value_len, int mode) noexcept {
    return kestrin::ldif::write_attr(buffer, count, name, value, value_len, mode);
}

extern "C" int ldif_fwrite_attr(FILE *stream, const char *name, const char *value, int value_len,
                                int mode) noexcept {
    int count = 0;
    char *text = kestrin::ldif::write_attr(nullptr, &count, name, value, value_len, mode);
    if (!text) return 0;
    const size_t written = count > 0 ? std::fwrite(text, 1, static_cast<size_t>(count), stream) : 0;
    std::free(text);
    return static_cast<int>(written);
}
