// Shared by the fuzz targets: the failure report, the switches for checks of
// faults not yet mended, the one place that knows how the codec kernels and
// LDIF file references are controlled, and small independent reference
// implementations of the documented formats that the targets compare the
// library against.
#pragma once

#include <strings.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "codec/base64_internal.h"
#include "codec/cpu_internal.h"
#include "ekva/ekva.h"
#include "ldif/ldif.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace fuzz {

// ---- failures -------------------------------------------------------------

// Under libFuzzer a violated property aborts (a finding with its stack);
// the replaying program sets this to end with status 1 instead, an ordinary
// test failure.
inline bool exit_on_failure = false;
// Set by the replaying program: inputs that are costly per run (a 4 MiB
// file) are only worth their time there, not in every fuzzing run.
inline bool replaying = false;

[[noreturn]] inline void fail(const char *file, int line, const char *what) {
    std::fprintf(stderr, "\n%s:%d: property violated: %s\n", file, line, what);
    std::fflush(stderr);
    if (exit_on_failure) std::_Exit(1);
    std::abort();
}
#define FUZZ_CHECK(cond)                                         \
    do {                                                         \
        if (!(cond)) ::fuzz::fail(__FILE__, __LINE__, #cond);    \
    } while (0)

// ---- codec kernels ----------------------------------------------------------
// Every base64 kernel this CPU can run, with its name. This is the only
// place that knows how a kernel is chosen explicitly.
struct Base64Kernel {
    const char *name;
    kestrin::base64::GroupEncoder encode;
    kestrin::base64::BulkDecoder decode;
};
inline std::vector<Base64Kernel> base64_kernels() {
    std::vector<Base64Kernel> k{{"portable", kestrin::base64::encode_groups_portable,
                                 kestrin::base64::decode_bulk_portable}};
    if (kestrin::cpu::has_avx2())
        k.push_back({"avx2", kestrin::base64::encode_groups_avx2, kestrin::base64::decode_bulk_avx2});
    return k;
}

// ---- LDIF file references -----------------------------------------------------
// ---- set-up ---------------------------------------------------------------------

inline void setup() {
    static const bool done = [] {
        setenv("TZ", "UTC", 1);
        tzset();
        ldif_set_file_references(0);  // no file named by a reference is ever opened
        return true;
    }();
    (void)done;
}

// ---- input helpers ---------------------------------------------------------------

// A NUL-terminated copy of the input (the readers stop at its first NUL).
inline std::string as_text(const uint8_t *data, size_t size) {
    return std::string(reinterpret_cast<const char *>(data), size);
}
inline std::string_view until_nul(const std::string &s) { return std::string_view(s.c_str()); }

// A read-only stream over bytes (NULL for no bytes).
inline FILE *memory_stream(std::string &bytes) {
    if (bytes.empty()) return nullptr;
    return fmemopen(bytes.data(), bytes.size(), "r");
}

// A file in memory, named by a path the loaders can open; closed on scope exit.
class MemoryFile {
public:
    explicit MemoryFile(std::string_view bytes) {
        fd_ = memfd_create("kestrin-fuzz", MFD_CLOEXEC);
        if (fd_ < 0) fail(__FILE__, __LINE__, "memfd_create");
        for (size_t done = 0; done < bytes.size();) {
            const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
            if (n <= 0) fail(__FILE__, __LINE__, "write to memfd");
            done += static_cast<size_t>(n);
        }
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~MemoryFile() { close(fd_); }
    MemoryFile(const MemoryFile &) = delete;
    MemoryFile &operator=(const MemoryFile &) = delete;
    const char *path() const { return path_.c_str(); }

private:
    int fd_ = -1;
    std::string path_;
};

// ---- records and lists as values ----------------------------------------------------

using Pairs = std::vector<std::pair<std::string, std::optional<std::string>>>;

// The entries of a record (slot 1 on when slot 0 is a header).
inline Pairs entries(ekva_pair **record) {
    Pairs out;
    if (!record) return out;
    int cap = 0, mode = 0;
    ekva_pair **p = record;
    if (*p && (*p)->key && ekva_parse_header((*p)->key, &cap, &mode)) ++p;
    for (; *p; ++p) {
        std::optional<std::string> v;
        if ((*p)->value) v = std::string((*p)->value);
        out.emplace_back((*p)->key ? (*p)->key : "", v);
    }
    return out;
}

inline std::vector<std::string> strings(char **list) {
    std::vector<std::string> out;
    for (char **p = list; p && *p; ++p) out.emplace_back(*p);
    return out;
}

// ---- reference base64 (RFC 4648, as base64.h documents it) ---------------------------

inline int b64_value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}
inline bool b64_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

inline std::string ref_b64_encode(std::string_view bytes) {
    static const char a[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    uint32_t acc = 0;
    int bits = 0;
    for (unsigned char c : bytes) {
        acc = acc << 8 | c;
        bits += 8;
        while (bits >= 6) {
            bits -= 6;
            out += a[(acc >> bits) & 63];
        }
    }
    if (bits > 0) out += a[(acc << (6 - bits)) & 63];
    while (out.size() % 4) out += '=';
    return out;
}

struct RefDecoded {
    bool ok = false;         // valid alphabet, grouping and padding
    bool zero_bits = true;   // the unused bits before the padding are zero
    bool partial = false;    // the text ends in a padded group
    std::string bytes;
};

inline RefDecoded ref_b64_decode(std::string_view text) {
    RefDecoded r;
    std::string sym;
    size_t pads = 0;
    for (char c : text) {
        if (b64_space(c)) continue;
        if (c == '=') {
            ++pads;
            continue;
        }
        if (pads > 0 || b64_value(static_cast<unsigned char>(c)) < 0) return r;  // data after padding, bad byte
        sym += c;
    }
    const size_t rem = sym.size() % 4;
    if (!((rem == 0 && pads == 0) || (rem == 2 && pads == 2) || (rem == 3 && pads == 1))) return r;
    uint32_t acc = 0;
    int bits = 0;
    for (char c : sym) {
        acc = acc << 6 | static_cast<uint32_t>(b64_value(static_cast<unsigned char>(c)));
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            r.bytes += static_cast<char>((acc >> bits) & 0xFF);
        }
    }
    r.zero_bits = bits == 0 || (acc & ((1u << bits) - 1)) == 0;
    r.partial = rem != 0;
    r.ok = true;
    return r;
}

// ---- reference LDIF ---------------------------------------------------------------------
// The line forms, folding and entry rules as ldif.h and RFC 2849 state them.

// One logical line of a NUL-terminated text: its physical lines joined (each
// LF and the space after it taken out) and where the next line starts. A
// line continues when the next physical line begins with a space; with the
// fold-after-blank check an empty line is never continued.
inline bool only_crs(std::string_view line) { return line.find_first_not_of('\r') == std::string_view::npos; }

struct RefLine {
    std::string joined;
    size_t next;
};
inline RefLine ref_logical_line(std::string_view text, size_t pos) {
    RefLine r{"", pos};
    bool first = true;
    for (;;) {
        const size_t lf = text.find('\n', pos);
        if (lf == std::string_view::npos) {
            r.joined.append(text.substr(pos));
            r.next = text.size();
            return r;
        }
        r.joined.append(text.substr(pos, lf - pos));
        const bool blank_first = first && only_crs(text.substr(pos, lf - pos));
        first = false;
        if (lf + 1 < text.size() && text[lf + 1] == ' ' && !blank_first) {
            pos = lf + 2;
            continue;
        }
        r.next = lf + 1;
        return r;
    }
}

// text cut at every sep: "a;b;" gives "a", "b", "".
inline std::vector<std::string> ref_split(const std::string &text, char sep) {
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == sep)
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

struct RefParsed {
    bool ok = false;
    std::string name, value;
    bool binary = false;
    bool file = false;  // a file reference (its bytes are "" with references off)
};

// Whether an attribute description has an option equal to "binary" (ASCII
// case ignored).
inline bool ref_has_binary_option(const std::string &name) {
    const std::vector<std::string> parts = ref_split(name, ';');
    for (size_t i = 1; i < parts.size(); ++i)
        if (strcasecmp(parts[i].c_str(), "binary") == 0 && parts[i].size() == 6) return true;
    return false;
}

// A joined logical line split as ldif_parse_line documents it.
inline RefParsed ref_parse_joined(std::string line) {
    RefParsed r;
    std::erase(line, '\r');
    r.ok = true;
    if (line.empty()) return r;
    if (line[0] == '#') {
        r.name = r.value = "#";
        return r;
    }
    const size_t colon = line.find(':');
    if (colon == std::string::npos) {
        r.name = line;
        return r;
    }
    r.name = line.substr(0, colon);
    size_t pos = colon + 1;
    enum { kPlain, kBase64, kFile } form = kPlain;
    if (pos < line.size() && line[pos] == ':') {
        form = kBase64;
        ++pos;
    } else if (pos < line.size() && line[pos] == '<') {
        form = kFile;
        ++pos;
    } else if (ref_has_binary_option(r.name)) {
        form = kFile;
    }
    while (pos < line.size() && line[pos] == ' ') ++pos;  // the fill: spaces only
    const std::string text = line.substr(pos);
    r.binary = form != kPlain;
    if (form == kPlain) {
        r.value = text;
    } else if (form == kFile) {
        r.file = true;  // never followed here
    } else {
        const RefDecoded d = ref_b64_decode(text);
        const bool empty_text = text.empty();
        if (empty_text) return r;  // the empty value
        if (!d.ok || !d.zero_bits || d.bytes.empty()) r.ok = false;
        r.value = d.bytes;
    }
    return r;
}

// Whether a base64 line holds only whitespace after its marker: how such a
// line reads is left open here (neither form is checked).
inline bool blank_base64(const std::string &joined) {
    std::string line = joined;
    std::erase(line, '\r');
    if (line.empty() || line[0] == '#') return false;
    const size_t colon = line.find(':');
    if (colon == std::string::npos || colon + 1 >= line.size() || line[colon + 1] != ':') return false;
    std::string_view rest = std::string_view(line).substr(colon + 2);
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    if (rest.empty()) return false;  // the fill only: the empty value
    for (char c : rest)
        if (!b64_space(c)) return false;
    return true;
}

// The lines of an entry as ldif_next_entry delivers it, and entry cutting.
inline bool ref_is_dn(std::string_view line) {
    std::string bare(line);
    std::erase(bare, '\r');
    return bare.size() >= 3 && strncasecmp(bare.data(), "dn:", 3) == 0;
}

inline std::string ref_entry_line(std::string joined) {
    if (!joined.empty() && joined.back() == '\r') joined.pop_back();
    return joined;
}

struct RefEntry {
    bool end = false;        // the text was at its end
    bool has_entry = false;  // false: a blank line came before any dn: line
    std::string text;
    size_t next = 0;
};
inline RefEntry ref_next_entry(std::string_view text, size_t pos) {
    RefEntry r;
    if (pos >= text.size()) {
        r.end = true;
        return r;
    }
    while (pos < text.size()) {
        const RefLine l = ref_logical_line(text, pos);
        const std::string line = ref_entry_line(l.joined);
        pos = l.next;
        if (only_crs(line)) break;
        if (!r.has_entry && !ref_is_dn(line)) continue;
        r.has_entry = true;
        r.text += line;
        r.text += '\n';
    }
    r.next = pos;
    return r;
}

// ldif2ekva over a text, as ldif.h documents it. nullopt: the first line
// cannot be parsed.
inline std::optional<Pairs> ref_ldif2ekva(std::string_view text) {
    Pairs out;
    size_t pos = 0;
    bool first = true;
    if (text.empty()) return std::nullopt;
    while (pos < text.size()) {
        const RefLine l = ref_logical_line(text, pos);
        pos = l.next;
        const RefParsed p = ref_parse_joined(l.joined);
        if (!p.ok) {
            if (first) return std::nullopt;
            break;
        }
        first = false;
        if (p.name.empty()) continue;
        if (!p.binary) {
            out.emplace_back(p.name, p.value);
        } else if (!p.value.empty()) {
            out.emplace_back(p.name + ";binary", ref_b64_encode(p.value));
        }
    }
    return out;
}

// The length of the well-formed UTF-8 sequence (RFC 3629) that begins at
// s[i] and ends inside s: 1 for ASCII, 2 to 4, or 0 when none begins there.
// The code point is decoded and its range checked: an overlong form, a
// surrogate or anything above U+10FFFF is no sequence.
inline size_t ref_utf8_len(std::string_view s, size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) return 1;
    size_t len = 0;
    uint32_t cp = 0;
    if ((c & 0xE0) == 0xC0) {
        len = 2;
        cp = c & 0x1Fu;
    } else if ((c & 0xF0) == 0xE0) {
        len = 3;
        cp = c & 0x0Fu;
    } else if ((c & 0xF8) == 0xF0) {
        len = 4;
        cp = c & 0x07u;
    } else {
        return 0;  // a continuation byte, or F8-FF
    }
    if (s.size() - i < len) return 0;  // truncated
    for (size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (b & 0x3Fu);
    }
    static const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[len] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return 0;
    return len;
}

// Whether every byte 0x80-0xFF of s lies in a well-formed UTF-8 sequence.
inline bool ref_utf8_text(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const size_t n = ref_utf8_len(s, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

// The text of a value as the LDIF writer takes it. high_ok: any byte
// 0x80-0xFF is fine; utf8: those that form well-formed UTF-8 are.
inline bool ref_safe(std::string_view v, bool high_ok, bool utf8 = false) {
    if (v.empty()) return true;
    if (v[0] == ' ' || v[0] == ':' || v[0] == '<' || v[0] == '\t' || v[0] == '\v' || v[0] == '\f') return false;
    if (v.back() == ' ') return false;
    for (unsigned char c : v)
        if (c == '\n' || c == '\r' || (c >= 0x80 && !high_ok && !utf8)) return false;
    return high_ok || !utf8 || ref_utf8_text(v);
}

// Folds an unfolded line, whose first `head` characters are the name and
// the marker, at width (0: never): a new physical line (a line feed and a
// space) before a character that does not fit on the current one, which
// holds `width` characters (the first) or width - 1 (a continuation); but
// never before the head and the value's first character. With keep_utf8 a
// well-formed sequence of the value is one character of its length, and a
// line that begins with one holds it even when it is longer.
inline std::string ref_fold(std::string_view unfolded, int width, size_t head, bool keep_utf8) {
    std::string out;
    if (width == 0) {
        out.assign(unfolded);
        out += '\n';
        return out;
    }
    size_t on_line = 0, room = static_cast<size_t>(width);
    const std::string_view value = unfolded.substr(head);
    for (size_t i = 0; i < unfolded.size();) {
        const size_t n = keep_utf8 && i >= head ? std::max<size_t>(ref_utf8_len(value, i - head), 1) : 1;
        if (i > head && on_line + n > room) {
            out += "\n ";
            on_line = 0;
            room = static_cast<size_t>(width) - 1;
        }
        out.append(unfolded.substr(i, n));
        on_line += n;
        i += n;
    }
    out += '\n';
    return out;
}

inline bool ref_name_refused(std::string_view name) {
    if (name[0] == ' ' || name.find_first_of("\n\r:") != std::string_view::npos) return true;
    return name[0] == '#';
}

// The line ldif_write_attr_wrap appends at width (ldif_write_attr: 77), or
// nullopt when it refuses the name or the width (1 or negative).
// value points at value_size bytes followed by a NUL (or is NULL).
inline std::optional<std::string> ref_write_attr(const char *name, const char *value, size_t value_size,
                                                 int value_len, int mode, bool *encoded = nullptr,
                                                 int width = 77) {
    (void)value_size;
    if (width < 0 || width == 1) return std::nullopt;
    const std::string_view full = name ? name : "";
    if (full.empty()) return std::string("\n");
    if (ref_name_refused(full)) return std::nullopt;
    std::string bytes;
    bool base64 = false;
    const size_t len = value_len > 0 ? static_cast<size_t>(value_len) : 0;
    if (!value) {
        base64 = mode == LDIF_ENC_BASE64;
    } else if (mode == LDIF_ENC_BASE64) {
        bytes.assign(value, len);
        base64 = true;
    } else if (mode == LDIF_ENC_URL) {
        bytes = value;
        if (bytes.find_first_of("\n\r") != std::string::npos) return std::nullopt;
    } else if (len > 0 && std::memchr(value, '\0', len)) {
        bytes.assign(value, len);
        base64 = true;
    } else {
        bytes = value;
        base64 = !ref_safe(bytes, mode == LDIF_ENC_AUTO8, mode == LDIF_ENC_UTF8);
    }
    if (encoded) *encoded = base64;
    std::string printed(full);
    std::string sep = base64 ? ":: " : mode == LDIF_ENC_URL ? ":< " : ": ";
    // The last "binary" option, else the last "filename" option, is left
    // out of the name and sets the marker.
    const std::vector<std::string> segments = ref_split(std::string(full), ';');
    for (const auto &[option, marker] : {std::pair<std::string, std::string>{"binary", ":: "}, {"filename", ":< "}}) {
        size_t hit = 0;
        for (size_t i = 1; i < segments.size(); ++i)
            if (strcasecmp(segments[i].c_str(), option.c_str()) == 0) hit = i;
        if (hit == 0) continue;
        printed.clear();
        for (size_t i = 0; i < segments.size(); ++i)
            if (i != hit) printed += (i == 0 ? "" : ";") + segments[i];
        sep = marker;
        break;
    }
    // A value written as it is in AUTO8 or UTF8 keeps its UTF-8 sequences
    // whole across folds; base64 text, URLs and the other modes do not.
    const bool keep = !base64 && (mode == LDIF_ENC_AUTO8 || mode == LDIF_ENC_UTF8);
    const std::string head = printed + sep;
    return ref_fold(head + (base64 ? ref_b64_encode(bytes) : bytes), width, head.size(), keep);
}

}  // namespace fuzz

namespace fuzz {

// ekva2ldif as ldif.h documents it: the dn first (AUTO8), then every other
// entry with a value (AUTO), dn keys not again; lines that cannot be written
// left out; folded at width (ekva2ldif_wrap; ekva2ldif is 77).
inline std::string ref_ekva2ldif(const Pairs &pairs, int width = 77) {
    std::optional<std::string> dn;
    for (const auto &[k, v] : pairs)
        if (strcasecmp(k.c_str(), "dn") == 0) {
            dn = v;  // the first match decides, also when it has no value
            break;
        }
    std::string out;
    auto put = [&out, width](const std::string &k, const std::string &v, int mode) {
        const auto line =
            ref_write_attr(k.c_str(), v.c_str(), v.size(), static_cast<int>(v.size()), mode, nullptr, width);
        if (line) out += *line;
    };
    if (dn) put("dn", *dn, LDIF_ENC_AUTO8);
    for (const auto &[k, v] : pairs) {
        if (dn && strcasecmp(k.c_str(), "dn") == 0) continue;
        if (!v) continue;
        if (k == "-" && v->empty()) {
            out += "-\n";  // a modify record's separator line
            continue;
        }
        put(k, *v, LDIF_ENC_AUTO);
    }
    return out;
}

// What reading ekva2ldif's text gives for a record whose keys are plain
// names (or "name;binary" over canonical base64): each value comes back
// under its key, or as "key;binary" with its base64 when it was not safe as
// text. nullopt when the record is outside that class or a disabled check
// decides it.
inline std::optional<Pairs> ref_round_trip(const Pairs &pairs) {
    std::optional<std::string> dn;
    for (const auto &[k, v] : pairs)
        if (strcasecmp(k.c_str(), "dn") == 0) {
            dn = v;
            break;
        }
    Pairs out;
    bool ok = true;
    auto take = [&](const std::string &k, const std::string &v, bool high_ok) {
        if (k.empty() || k[0] == ' ' || k.find_first_of("\n\r:") != std::string::npos) return;  // not written
        if (k[0] == '#') {
            return;  // refused
        }
        const std::vector<std::string> segments = ref_split(k, ';');
        bool binary_option = false, file_option = false;
        for (size_t i = 1; i < segments.size(); ++i) {
            binary_option |= strcasecmp(segments[i].c_str(), "binary") == 0;
            file_option |= strcasecmp(segments[i].c_str(), "filename") == 0;
        }
        // A name with options other than these is printed as it is; one that
        // merely holds ";binary" would be read as a file reference.
        if (!binary_option && !file_option && k.find(";binary") == std::string::npos) {
            if (ref_safe(v, high_ok))
                out.emplace_back(k, v);
            else
                out.emplace_back(k + ";binary", ref_b64_encode(v));
            return;
        }
        // A last option "binary" is left out of the printed name and put
        // back by the reader; anything else is outside the class.
        if (k[0] == ';' || file_option || segments.back() != "binary" || !ref_safe(v, high_ok)) {
            ok = false;
            return;
        }
        const RefDecoded d = ref_b64_decode(v);
        if (!d.ok || !d.zero_bits || ref_b64_encode(d.bytes) != v) {
            ok = false;
            return;
        }
        if (v.empty()) {
            return;  // the empty value: no pair
        }
        out.emplace_back(k, v);
    };
    if (dn) take("dn", *dn, true);
    for (const auto &[k, v] : pairs) {
        if (dn && strcasecmp(k.c_str(), "dn") == 0) continue;
        if (v) take(k, *v, false);
    }
    if (!ok) return std::nullopt;
    return out;
}

// Reference entry queries: the lines up to the first blank one, passing
// over lines with an empty name.
struct RefQueryLine {
    std::string name, value;
};
// nullopt: the first line cannot be parsed. unsure: a line whose reading is
// left open was met.
inline std::optional<std::vector<RefQueryLine>> ref_query_lines(std::string_view text, bool &unsure) {
    std::vector<RefQueryLine> out;
    unsure = false;
    size_t pos = 0;
    bool first = true;
    if (text.empty()) return std::nullopt;
    while (pos < text.size()) {
        const RefLine l = ref_logical_line(text, pos);
        pos = l.next;
        if (blank_base64(l.joined)) {
            unsure = true;
            break;
        }
        const RefParsed p = ref_parse_joined(l.joined);
        if (!p.ok) {
            if (first) return std::nullopt;
            break;
        }
        first = false;
        std::string bare = l.joined;
        std::erase(bare, '\r');
        if (bare.empty()) break;  // the blank line
        if (p.name.empty()) continue;
        out.push_back({p.name, p.value});
    }
    return out;
}

}  // namespace fuzz

namespace fuzz {

// Whether any logical line is a base64 form holding only whitespace (its
// reading is left open once the empty value reads).
inline bool has_blank_base64(std::string_view text) {
    for (size_t pos = 0; pos < text.size();) {
        const RefLine l = ref_logical_line(text, pos);
        if (blank_base64(l.joined)) return true;
        pos = l.next;
    }
    return false;
}

// A record's header is an EKVA_MULTI header whose capacity holds its entries.
inline bool multi_header(ekva_pair **record) {
    int cap = 0, mode = 0;
    return record && record[0] && record[0]->key && ekva_parse_header(record[0]->key, &cap, &mode) &&
           mode == EKVA_MULTI && cap >= ekva_count(record);
}

}  // namespace fuzz

namespace fuzz {

// A delimited line read as csv.h documents it.
inline std::vector<std::string> ref_csv_parse(std::string_view line, char sep) {
    std::vector<std::string> out;
    std::string field;
    size_t k = 0;
    const size_t n = line.size();
    auto lf_pair = [&](size_t i) { return line[i] == '\\' && i + 1 < n && line[i + 1] == 'n' && i > 0 && line[i - 1] != '\\'; };
    for (;;) {
        field.clear();
        if (k < n && line[k] == '"') {  // quoted
            ++k;
            bool closed = false;
            while (k < n) {
                if (lf_pair(k)) {
                    field += '\n';
                    k += 2;
                } else if (line[k] == '"' && k + 1 < n && line[k + 1] == '"') {
                    field += '"';
                    k += 2;
                } else if (line[k] == '"' && k + 1 < n && line[k + 1] == sep) {
                    k += 2;
                    closed = true;
                    break;
                } else if (line[k] == '"' && k + 1 == n) {
                    k += 1;
                    break;
                } else {
                    field += line[k++];
                }
            }
            out.push_back(field);
            if (!closed) return out;
            continue;
        }
        while (k < n && line[k] != sep) {
            if (lf_pair(k)) {
                field += '\n';
                k += 2;
            } else {
                field += line[k++];
            }
        }
        out.push_back(field);
        if (k >= n) return out;
        ++k;  // the separator
    }
}

// The words of a line as stream_read_words documents them (the line taken
// up to its first NUL); nullopt for a blank line or one that begins with '#'.
inline std::optional<std::vector<std::string>> ref_words(std::string_view line) {
    line = line.substr(0, line.find('\0'));
    if (line.empty() || line[0] == '#') return std::nullopt;
    line = line.substr(0, line.find('#'));
    std::vector<std::string> out;
    std::string word;
    for (size_t i = 0; i < line.size(); ++i) {
        const bool blank = line[i] == ' ' || line[i] == '\t';
        if (!blank) {
            word += line[i];
            continue;
        }
        if (i == 0 || !(line[i - 1] == ' ' || line[i - 1] == '\t')) out.push_back(word);
        word.clear();
    }
    out.push_back(word);
    return out;
}

}  // namespace fuzz
