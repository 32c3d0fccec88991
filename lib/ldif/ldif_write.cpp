// LDIF attribute writer: one attribute line, folded at 78 characters, appended
// to a growing heap buffer.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string_view>

#include "util/guard_internal.h"
#include "codec/base64.h"
#include "ldif/ldif.h"
#include "ldif/ldif_write_internal.h"
#include "ldif/utf8_internal.h"
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

// Whether the n bytes at p (fewer than a whole sequence) can begin a
// well-formed sequence: checked by completing them with the smallest
// continuation bytes that could follow.
bool utf8_valid_prefix(const unsigned char *p, size_t n) {
    const size_t len = utf8::lead_length(p[0]);
    if (len < 2 || n >= len) return false;
    unsigned char whole[4] = {p[0], 0, 0, 0};
    for (size_t i = 1; i < len; ++i) whole[i] = i < n ? p[i] : 0;
    // The second byte's least allowed value, where it is not yet there.
    if (n < 2) whole[1] = p[0] == 0xE0 ? 0xA0 : p[0] == 0xF0 ? 0x90 : 0x80;
    for (size_t i = std::max<size_t>(n, 2); i < len; ++i) whole[i] = 0x80;
    return utf8::sequence_length(whole, len) == len;
}

// The bytes at the end of [p, p + n) that begin a well-formed sequence
// which the text ends before completing: 0 to 3.
size_t utf8_open_tail(const unsigned char *p, size_t n) {
    for (size_t back = 1; back <= 3 && back <= n; ++back) {
        const unsigned char c = p[n - back];
        if ((c & 0xC0) == 0x80) continue;  // a continuation byte: look further back
        return utf8_valid_prefix(p + n - back, back) ? back : 0;
    }
    return 0;
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
    base64_ = has_unsafe_byte(p, p + piece.size(), high_ != HighBytes::kUnsafe);
    if (!base64_ && high_ == HighBytes::kUtf8) feed_utf8(p, piece.size());
    last_ = piece.back();
}

void SafeScan::feed_utf8(const unsigned char *p, size_t n) {
    utf8_state_ = utf8::run(utf8_state_, p, n);
    base64_ = utf8_state_ == utf8::kError;
}

void SafeScan::finish() {
    // A sequence still open at the end is truncated.
    if (high_ == HighBytes::kUtf8 && utf8_state_ != utf8::kAccept) base64_ = true;
    // Editors and pipelines that trim trailing white space would lose it.
    if (last_ == ' ') base64_ = true;
}

OptionSpan last_option(std::string_view name, std::string_view option) {
    const size_t first = name.find(';');
    if (first == std::string_view::npos) return {};
    for (size_t end = name.size(); end > first;) {
        const size_t semi = name.rfind(';', end - 1);
        const std::string_view text = name.substr(semi + 1, end - semi - 1);
        if (same_ignoring_case(text, option)) return {semi, end};
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

namespace {

// Where put() writes: copied characters and folds.
struct Writer {
    char *at;
    void copy(const char *p, size_t n) {
        if (n > 0) std::memcpy(at, p, n);  // an absent value has no data at all
        at += n;
    }
    void fold() {
        at[0] = '\n';
        at[1] = ' ';
        at += 2;
    }
};

// What measure() counts instead.
struct Counter {
    size_t n = 0;
    void copy(const char *, size_t k) { n += k; }
    void fold() { n += 2; }
};

}  // namespace

size_t Folder::most_room(size_t n) const {
    if (width_ == 0) return n + held_n_;
    // Every continuation line holds at least one character more than 3
    // bytes back from its end, so one in (width - 4) characters, or one.
    const size_t least = width_ - 1 > 4 ? width_ - 4 : 1;
    n += held_n_;
    return n + 2 * (n / least + 2);
}

size_t Folder::fits(size_t room) const {
    if (width_ == 0) return room > held_n_ ? room - held_n_ : 0;
    const size_t least = width_ - 1 > 4 ? width_ - 4 : 1;
    if (room < 4 + held_n_ + 1) return 0;
    // n + 2 * (n / least + 2) <= room, held bytes counted, rounded down.
    const size_t n = (room - 4) / (least + 2) * least;
    return n > held_n_ ? n - held_n_ : 0;
}

// The offset in text where a fold before text[n] goes: n, or, when text[n]
// lies inside a well-formed sequence, the sequence's start, or its end when
// the sequence begins the physical line (a line too short for it holds it
// whole).
size_t Folder::utf8_cut(std::string_view text, size_t n) const {
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    if ((p[n] & 0xC0) != 0x80) return n;
    for (size_t back = 1; back <= 3 && back <= n; ++back) {
        const size_t j = n - back;
        if ((p[j] & 0xC0) == 0x80) continue;
        const size_t len = utf8::sequence_length(p + j, text.size() - j);
        if (len <= back) return n;
        const bool line_has_text_before = column_ + j > line_start_;
        return line_has_text_before ? j : j + len;
    }
    return n;
}

template <class Out>
void Folder::lay(std::string_view text, bool keep_utf8, Out &out) {
    if (width_ == 0) {
        out.copy(text.data(), text.size());
        column_ += text.size();
        return;
    }
    while (!text.empty()) {
        if (keep_utf8 && column_ == head_) {
            // The value's first character stays whole on the first line.
            const size_t first = utf8::sequence_length(reinterpret_cast<const unsigned char *>(text.data()), text.size());
            next_fold_ = std::max(next_fold_, column_ + first);
        }
        if (column_ == next_fold_) {  // the line is full and text goes on
            out.fold();
            line_start_ = column_;
            next_fold_ = column_ + width_ - 1;
        }
        const size_t left = next_fold_ - column_;
        size_t n = std::min(text.size(), left);
        if (keep_utf8 && n < text.size()) {
            n = utf8_cut(text, n);
            next_fold_ = column_ + n;  // before the sequence, or after one that begins the line
        }
        out.copy(text.data(), n);
        column_ += n;
        text.remove_prefix(n);
    }
}

// lay() for a piece of a value, with a sequence cut between pieces held back.
template <class Out>
void Folder::lay_held(std::string_view text, bool keep_utf8, Out &out) {
    if (!keep_utf8) {
        if (held_n_ > 0) {
            lay({reinterpret_cast<const char *>(held_), held_n_}, false, out);
            held_n_ = 0;
        }
        lay(text, false, out);
        return;
    }
    if (held_n_ > 0) {
        // Complete the held sequence from the new text, or give it up.
        const size_t len = utf8::lead_length(held_[0]);
        while (held_n_ < len && !text.empty() && utf8_valid_prefix(held_, held_n_)) {
            held_[held_n_++] = static_cast<unsigned char>(text.front());
            text.remove_prefix(1);
        }
        if (held_n_ < len && text.empty() && utf8_valid_prefix(held_, held_n_)) return;  // still open
        lay({reinterpret_cast<const char *>(held_), held_n_}, true, out);
        held_n_ = 0;
    }
    const size_t tail = utf8_open_tail(reinterpret_cast<const unsigned char *>(text.data()), text.size());
    lay(text.substr(0, text.size() - tail), true, out);
    if (tail > 0) std::memcpy(held_, text.data() + text.size() - tail, tail);  // an absent value has no data()
    held_n_ = tail;
}

char *Folder::put(std::string_view text, char *out, bool keep_utf8) {
    Writer w{out};
    lay_held(text, keep_utf8, w);
    return w.at;
}

char *Folder::finish(char *out) {
    Writer w{out};
    lay_held({}, false, w);
    return w.at;
}

size_t Folder::measure(std::string_view text, bool keep_utf8) {
    Counter c;
    lay_held(text, keep_utf8, c);
    return c.n;
}

size_t Folder::measure_finish() {
    Counter c;
    lay_held({}, false, c);
    return c.n;
}

size_t folded_length(size_t unfolded, size_t head, size_t width) {
    const size_t first = std::max(width, head + 1);  // the first physical line
    if (width == 0 || unfolded <= first) return unfolded + 1;
    return unfolded + 2 * ((unfolded - first - 1) / (width - 1) + 1) + 1;
}

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
    return {text, needs_base64(text, mode)};
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

// Characters of the folded line, its line feed included.
size_t line_length(std::span<const LinePart> parts, size_t head, size_t width) {
    size_t unfolded = 0;
    bool utf8 = false;
    for (const LinePart &p : parts) {
        unfolded += p.base64 ? base64_encoded_size(p.bytes.size()) : p.bytes.size();
        utf8 |= p.keep_utf8 && !p.base64;
    }
    if (!utf8) return folded_length(unfolded, head, width);
    // A plain value's UTF-8 sequences may move folds: laid out without
    // writing (a line with such a part has no base64 part).
    Folder line(width, head);
    size_t n = 0;
    for (const LinePart &p : parts) n += line.measure(p.bytes, p.keep_utf8);
    return n + line.measure_finish() + 1;
}

// Writes the whole folded line and its NUL at dst. False when the encoder
// fails.
bool put_line(char *dst, std::span<const LinePart> parts, size_t head, Scratch &scratch, size_t width) {
    Folder line(width, head);
    char *end = dst;
    for (const LinePart &p : parts) {
        if (!p.base64)
            end = line.put(p.bytes, end, p.keep_utf8);
        else if (!put_base64(line, end, p.bytes, scratch))
            return false;
    }
    end = line.finish(end);
    end[0] = '\n';
    end[1] = '\0';
    return true;
}

}  // namespace

bool needs_base64(std::string_view bytes, int mode) {
    if (mode == LDIF_ENC_BASE64) return true;
    SafeScan scan(mode == LDIF_ENC_AUTO8 ? HighBytes::kAllowed
                  : mode == LDIF_ENC_UTF8 ? HighBytes::kUtf8
                                          : HighBytes::kUnsafe);
    scan.feed(bytes);
    scan.finish();
    return scan.base64();
}

char *append_line(char *buffer, int *count, std::span<const LinePart> parts, size_t head, size_t width) {
    const size_t appended = line_length(parts, head, width);
    const int old = *count;
    if (appended > static_cast<size_t>(INT_MAX - old)) {
        errno = EOVERFLOW;
        return nullptr;
    }

    // The base64 failures (no working buffer, the encoder fails) free the
    // caller's buffer; a buffer that cannot grow is left as it was.
    Scratch scratch;
    bool base64 = false;
    size_t longest = 0;
    for (const LinePart &p : parts) {
        base64 |= p.base64;
        if (p.base64) longest = std::max(longest, base64_encoded_size(p.bytes.size()));
    }
    if (base64 && !scratch.allocate(longest)) {
        message("Failed to allocate base64 buffer\n");
        if (old > 0) std::free(buffer);
        return nullptr;
    }
    char *out = grow_buffer(buffer, old, appended);
    if (!out) return nullptr;
    if (!put_line(out + old, parts, head, scratch, width)) {
        std::free(out);
        return nullptr;
    }
    *count = old + static_cast<int>(appended);
    return out;
}

namespace {

char *write_attr(char *buffer, int *count, const char *name, const char *value, int value_len,
                 int mode, int width) {
    if (!count || *count < 0) return nullptr;
    if (width < 0 || width == 1) {
        errno = EINVAL;
        return nullptr;
    }
    const std::string_view full_name = name ? name : "";
    if (full_name.empty()) return append_separator(buffer, count);
    if (name_refused(full_name)) return nullptr;

    const Value val = choose_value(value, value_len, mode);
    // A URL is written as it is: a line break in it would end the line and
    // the rest would read back as another line.
    if (mode == LDIF_ENC_URL && val.bytes.find_first_of("\n\r") != std::string_view::npos) return nullptr;
    const LineHead head = line_head(full_name, val.base64, mode);
    const LinePart parts[] = {{head.name}, {head.name_rest}, {head.marker},
                              {val.bytes, val.base64, keeps_utf8(mode) && !val.base64}};
    return append_line(buffer, count, parts, head.size(), static_cast<size_t>(width));
}

}  // namespace
}  // namespace kestrin::ldif

extern "C" char *ldif_write_attr_wrap(char *buffer, int *count, const char *name, const char *value,
                                      int value_len, int mode, int width) noexcept {
    return kestrin::ldif::write_attr(buffer, count, name, value, value_len, mode, width);
}

extern "C" char *ldif_write_attr(char *buffer, int *count, const char *name, const char *value,
                                 int value_len, int mode) noexcept {
    return ldif_write_attr_wrap(buffer, count, name, value, value_len, mode,
                                static_cast<int>(kestrin::ldif::kDefaultWidth));
}

extern "C" int ldif_fwrite_attr_wrap(FILE *stream, const char *name, const char *value, int value_len, int mode,
                                     int width) noexcept {
    int count = 0;
    char *text = kestrin::ldif::write_attr(nullptr, &count, name, value, value_len, mode, width);
    if (!text) return 0;
    const size_t written = count > 0 ? std::fwrite(text, 1, static_cast<size_t>(count), stream) : 0;
    std::free(text);
    return static_cast<int>(written);
}

extern "C" int ldif_fwrite_attr(FILE *stream, const char *name, const char *value, int value_len,
                                int mode) noexcept {
    return ldif_fwrite_attr_wrap(stream, name, value, value_len, mode, static_cast<int>(kestrin::ldif::kDefaultWidth));
}
