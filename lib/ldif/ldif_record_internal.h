// The rules of LDIF records (see "Records" in ldif.h), shared by the record
// reader (ldif_record.cpp), which checks them, and the record writer
// (ldif_record_write.cpp), which refuses a record that breaks them, so that
// what one writes the other reads back.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "ldif/ldif.h"
#include "ldif/ldif_internal.h"

namespace kestrin::ldif::record {

// Whether text is the word, a lower-case one of letters only, in any
// letter case (a byte with 0x20 set is that lower-case letter only when it
// is the letter in either case).
inline bool is_word(std::string_view text, std::string_view word) {
    if (text.size() != word.size()) return false;
    for (size_t i = 0; i < text.size(); ++i)
        if ((text[i] | 0x20) != word[i]) return false;
    return true;
}

// number *("." number), each number one or more digits.
bool valid_oid(std::string_view oid);
// A numeric OID of two numbers or more (an attribute type).
bool valid_numeric_type(std::string_view type);

// The characters of attribute descriptions, as a table (every line of a
// file is checked): letters, digits and '-' are key characters.
inline constexpr unsigned char kAlpha = 1, kDigit = 2, kHyphen = 4;
inline constexpr std::array<unsigned char, 256> kKeyClass = [] {
    std::array<unsigned char, 256> t{};
    for (int c = 'a'; c <= 'z'; ++c) t[static_cast<size_t>(c)] = t[static_cast<size_t>(c - 'a' + 'A')] = kAlpha;
    for (int c = '0'; c <= '9'; ++c) t[static_cast<size_t>(c)] = kDigit;
    t['-'] = kHyphen;
    return t;
}();
inline unsigned char key_class(char c) { return kKeyClass[static_cast<unsigned char>(c)]; }

// Where the run of key characters from `from` ends. Names are checked
// eight bytes at a time: a byte is a key character when it is below 0x80
// and in '0'-'9', or in 'a'-'z' once 0x20 is set, or '-'.
inline size_t key_run(std::string_view d, size_t from) {
    constexpr uint64_t kOnes = 0x0101010101010101ULL, kHigh = 0x8080808080808080ULL;
    // High bit of each byte b (below 0x80) set when lo <= b <= hi.
    const auto in = [](uint64_t w, unsigned lo, unsigned hi) {
        return (w + kOnes * (0x80 - lo)) & ~(w + kOnes * (0x7F - hi)) & kHigh;
    };
    size_t i = from;
    for (; i + 8 <= d.size(); i += 8) {
        uint64_t w;
        std::memcpy(&w, d.data() + i, 8);
        if (w & kHigh) break;
        const uint64_t ok = in(w, '0', '9') | in(w | kOnes * 0x20, 'a', 'z') | in(w, '-', '-');
        if (ok != kHigh) break;
    }
    while (i < d.size() && key_class(d[i])) ++i;
    return i;
}

// RFC 4512: a name (a letter, then key characters) or a numeric OID, then
// options, each ';' and one or more key characters.
inline bool valid_description(std::string_view d) {
    if (d.empty()) return false;
    size_t i = 0;
    if (key_class(d[0]) & kAlpha) {
        i = key_run(d, 1);
    } else {
        i = std::min(d.find(';'), d.size());
        if (!valid_numeric_type(d.substr(0, i))) return false;
    }
    while (i < d.size()) {
        if (d[i] != ';') return false;
        const size_t start = ++i;
        i = key_run(d, i);
        if (i == start) return false;
    }
    return true;
}

// Attribute names that give a record its structure and may not be those of
// its attribute lines.
inline constexpr std::string_view kDn = "dn", kControl = "control", kChangetype = "changetype";
inline bool structural_name(std::string_view name) {
    switch (name.size()) {
        case kDn.size(): return is_word(name, kDn);
        case kControl.size(): return is_word(name, kControl);
        case kChangetype.size(): return is_word(name, kChangetype);
        default: return false;
    }
}

// The change type a changetype line names ("moddn" is modrdn), or none.
std::optional<ldif_change> change_named(std::string_view word);
// The word the writer writes for a change type.
std::string_view change_word(int change);
// The modification a line's name begins ("add", "delete", "replace",
// "increment"), or none; and its word.
std::optional<ldif_mod_op> op_named(std::string_view name);
std::string_view op_word(int op);

// A control line's value: "OID", then optionally spaces and "true" or
// "false", then optionally ": text", ":: base64" or ":< url" right after;
// spaces may end a line without a value. value is the text after the
// marker with its fill skipped (base64 text not yet decoded).
struct Control {
    std::string_view oid;
    bool critical = false;
    bool has_value = false;
    Form form = Form::kPlain;
    std::string_view value;
};
std::optional<Control> parse_control(std::string_view text);

// An error message: the pattern with each "%s" in turn replaced by a text
// of the input, printable ASCII as it is and any other byte as \xHH, cut
// at 40 characters with "...". out holds kMessageRoom bytes; the message
// is NUL-terminated there. Returns its length.
inline constexpr size_t kMessageRoom = 192;
size_t format_message(char *out, const char *pattern, std::string_view first = {}, std::string_view second = {});

// Gathers the items of one record into an ldif_record, whose memory comes
// from the library's allocator (ldif_record_read.cpp).
class Assembly {
public:
    Assembly() = default;
    ~Assembly();
    Assembly(const Assembly &) = delete;
    Assembly &operator=(const Assembly &) = delete;

    enum Took {
        kMore,         // part of a record: read on
        kWhole,        // the record is whole: take() it
        kOutOfMemory,  // it cannot be held: dropped, the rest of it passed over
        kPassOn        // no part of a record (NEED_INPUT, ERROR, DONE): for the caller
    };
    Took add(const ldif_record_item &item);
    // The whole record, handed over.
    ldif_record *take();

private:
    bool grow(const ldif_record_item &item);
    bool append(const ldif_record_item &item);

    ldif_record *record_ = nullptr;
    ldif_value *open_ = nullptr;  // the value whose pieces are coming in
    size_t open_room_ = 0;        // bytes allocated for it
    bool skipping_ = false;  // after running out of memory, until the record ends
};

}  // namespace kestrin::ldif::record
