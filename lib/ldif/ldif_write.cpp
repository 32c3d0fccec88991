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
#include "util/alloc_internal.h"

namespace kestrin::ldif {
namespace {

constexpr size_t kFirstLine = 77;   // characters before the first fold
constexpr size_t kNextLines = 76;   // value characters per continuation line
constexpr size_t kChunkBytes = 49152;  // base64 is encoded in pieces of this many bytes
constexpr size_t kChunkChars = kChunkBytes / 3 * 4;

// A name that would break the line structure or be read back as another name;
// a line beginning with '#' reads back as a comment, its value lost.
bool name_refused(std::string_view name) {
    return name.front() == ' ' || name.front() == '#' || name.find_first_of("\n\r:") != std::string_view::npos;
}

// Real readers strip a tab, vertical tab or form feed after the colon as they
// strip a space, so a value beginning with one would lose it.
bool is_safe_string(std::string_view value, bool high_bytes_allowed) {
    if (value.empty()) return true;
    if (std::string_view(" :<\t\v\f").find(value.front()) != std::string_view::npos) return false;
    for (const char ch : value) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\n' || c == '\r' || (c >= 0x80 && !high_bytes_allowed)) return false;
    }
    return true;
}

// Characters of the folded line, final line feed included.
size_t folded_length(size_t unfolded) {
    const size_t folds = unfolded > kFirstLine ? (unfolded - kFirstLine + kNextLines - 1) / kNextLines : 0;
    return unfolded + 2 * folds + 1;
}

// Copies the unfolded line into place, inserting a line feed and a space
// before unfolded column 77 and every 76 columns after it.
class Folder {
public:
    explicit Folder(char *dst) : dst_(dst) {}
    void put(std::string_view text) {
        while (!text.empty()) {
            if (column_ == next_fold_) {
                *dst_++ = '\n';
                *dst_++ = ' ';
                next_fold_ += kNextLines;
            }
            const size_t n = std::min(text.size(), next_fold_ - column_);
            std::memcpy(dst_, text.data(), n);
            dst_ += n;
            column_ += n;
            text.remove_prefix(n);
        }
    }
    void end_line() {
        *dst_++ = '\n';
        *dst_ = '\0';
    }

private:
    char *dst_;
    size_t column_ = 0;
    size_t next_fold_ = kFirstLine;
};

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
    return {text, !is_safe_string(text, mode == LDIF_ENC_AUTO8)};
}

// How the line begins: the name as printed and the marker after it. A
// ";binary" or ";filename" option cuts the name at its first ';' and sets
// the marker whatever form the value takes.
struct Head {
    std::string_view name;
    std::string_view marker;
};

Head line_head(std::string_view name, const Value &val, int mode) {
    if (name.find(";binary") != std::string_view::npos) return {name.substr(0, name.find(';')), ":: "};
    if (name.find(";filename") != std::string_view::npos) return {name.substr(0, name.find(';')), ":< "};
    return {name, val.base64 ? ":: " : mode == LDIF_ENC_URL ? ":< " : ": "};
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

// Puts the base64 text of bytes, chunk by chunk through scratch. False,
// after a message on stderr, when the encoder fails.
bool put_base64(Folder &line, std::string_view bytes, Scratch &scratch) {
    const auto *src = reinterpret_cast<const unsigned char *>(bytes.data());
    for (size_t done = 0; done < bytes.size(); done += kChunkBytes) {
        const size_t n = std::min(kChunkBytes, bytes.size() - done);
        const int written = base64_encode(src + done, n, scratch.data, scratch.size);
        if (written < 0 || static_cast<size_t>(written) != base64_encoded_size(n)) {
            message("Failed to encode binary value: %d\n", written);
            return false;
        }
        line.put({scratch.data, static_cast<size_t>(written)});
    }
    return true;
}

// Writes the whole folded line at dst. False when the encoder fails.
bool put_line(char *dst, const Head &head, const Value &val, Scratch &scratch) {
    Folder line(dst);
    line.put(head.name);
    line.put(head.marker);
    if (!val.base64)
        line.put(val.bytes);
    else if (!put_base64(line, val.bytes, scratch))
        return false;
    line.end_line();
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
    const Head head = line_head(full_name, val, mode);
    const size_t text_len = val.base64 ? base64_encoded_size(val.bytes.size()) : val.bytes.size();
    const size_t appended = folded_length(head.name.size() + head.marker.size() + text_len);
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
