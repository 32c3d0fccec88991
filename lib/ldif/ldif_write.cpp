// LDIF attribute writer: one attribute line, folded at 78 characters, appended
// to a growing heap buffer.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "codec/base64.h"
#include "ldif/ldif.h"
#include "util/alloc_internal.h"

namespace kestrin::ldif {
namespace {

constexpr size_t kFirstLine = 77;   // characters before the first fold
constexpr size_t kNextLines = 76;   // value characters per continuation line
constexpr size_t kChunkBytes = 49152;  // base64 is encoded in pieces of this many bytes
constexpr size_t kChunkChars = kChunkBytes / 3 * 4;

// A name that would break the line structure or be read back as another name.
bool name_refused(std::string_view name) {
    return name.front() == ' ' || name.find_first_of("\n\r:") != std::string_view::npos;
}

// Real readers strip a tab, vertical tab or form feed after the colon as they
// strip a space, so a value beginning with one would lose it.
bool is_safe_string(std::string_view value, bool high_bytes_allowed) {
    if (value.empty()) return true;
    if (std::string_view(" :<\t\v\f").find(value.front()) != std::string_view::npos) return false;
    for (unsigned char c : value)
        if (c == '\n' || c == '\r' || (c >= 0x80 && !high_bytes_allowed)) return false;
    return true;
}

size_t base64_length(size_t bytes) { return (bytes + 2) / 3 * 4; }

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
    char *out = static_cast<char *>(old == 0 ? mem::allocate(2) : mem::reallocate(buffer, old + 2u));
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

char *write_attr(char *buffer, int *count, const char *name, const char *value, int value_len,
                 int mode) {
    if (!count || *count < 0) return nullptr;
    const std::string_view full_name = name ? name : "";
    if (full_name.empty()) return append_separator(buffer, count);
    if (name_refused(full_name)) return nullptr;

    const Value val = choose_value(value, value_len, mode);
    std::string_view printed = full_name;
    std::string_view separator = val.base64 ? ":: " : mode == LDIF_ENC_URL ? ":< " : ": ";
    if (full_name.find(";binary") != std::string_view::npos) {
        printed = full_name.substr(0, full_name.find(';'));
        separator = ":: ";
    } else if (full_name.find(";filename") != std::string_view::npos) {
        printed = full_name.substr(0, full_name.find(';'));
        separator = ":< ";
    }

    const size_t text_len = val.base64 ? base64_length(val.bytes.size()) : val.bytes.size();
    const size_t appended = folded_length(printed.size() + separator.size() + text_len);
    const int old = *count;
    if (appended > static_cast<size_t>(INT_MAX - old)) {
        errno = EOVERFLOW;
        return nullptr;
    }

    char *scratch = nullptr;
    if (val.base64) {
        scratch = static_cast<char *>(mem::allocate(std::min(text_len, kChunkChars) + 1));
        if (!scratch) {
            std::fputs("Failed to allocate base64 buffer\n", stderr);
            if (old > 0) std::free(buffer);
            return nullptr;
        }
    }
    char *out = static_cast<char *>(old == 0 ? mem::allocate(appended + 1)
                                             : mem::reallocate(buffer, old + appended + 1));
    if (!out) {
        std::free(scratch);
        return nullptr;
    }
    mem::advise_huge_pages(out + old, appended + 1);

    Folder line(out + old);
    line.put(printed);
    line.put(separator);
    if (!val.base64) {
        line.put(val.bytes);
    } else {
        const auto *src = reinterpret_cast<const unsigned char *>(val.bytes.data());
        for (size_t done = 0; done < val.bytes.size(); done += kChunkBytes) {
            const size_t n = std::min(kChunkBytes, val.bytes.size() - done);
            const int written = base64_encode(src + done, n, scratch, kChunkChars + 1);
            if (written < 0 || static_cast<size_t>(written) != base64_length(n)) {
                std::fprintf(stderr, "Failed to encode binary value: %d\n", written);
                std::free(scratch);
                std::free(out);
                return nullptr;
            }
            line.put({scratch, static_cast<size_t>(written)});
        }
        std::free(scratch);
    }
    line.end_line();
    *count = old + static_cast<int>(appended);
    return out;
}

}  // namespace
}  // namespace kestrin::ldif

extern "C" char *ldif_write_attr(char *buffer, int *count, const char *name, const char *value,
                                 int value_len, int mode) {
    return kestrin::ldif::write_attr(buffer, count, name, value, value_len, mode);
}

extern "C" int ldif_fwrite_attr(FILE *stream, const char *name, const char *value, int value_len,
                                int mode) {
    int count = 0;
    char *text = kestrin::ldif::write_attr(nullptr, &count, name, value, value_len, mode);
    if (!text) return 0;
    const size_t written = count > 0 ? std::fwrite(text, 1, static_cast<size_t>(count), stream) : 0;
    std::free(text);
    return static_cast<int>(written);
}
