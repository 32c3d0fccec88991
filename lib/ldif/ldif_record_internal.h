// The rules of LDIF records (see "Records" in ldif.h), shared by the record
// reader (ldif_record.cpp), which checks them, and the record writer
// (ldif_record_write.cpp), which refuses a record that breaks them, so that
// what one writes the other reads back.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "ldif/ldif.h"
#include "ldif/ldif_internal.h"

namespace kestrin::ldif::record {

// ASCII letter case ignored.
bool same_word(std::string_view a, std::string_view b);

// RFC 4512: a name (a letter, then letters, digits and '-') or a numeric
// OID, then options (';' and one or more letters, digits and '-').
bool valid_description(std::string_view description);
// number *("." number), each number one or more digits.
bool valid_oid(std::string_view oid);

// Attribute names that give a record its structure and may not be those of
// its attribute lines.
inline constexpr std::string_view kDn = "dn", kControl = "control", kChangetype = "changetype";
inline bool structural_name(std::string_view name) {
    return same_word(name, kDn) || same_word(name, kControl) || same_word(name, kChangetype);
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
