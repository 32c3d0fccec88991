// Record internals shared by the record, set and text operations and by the
// LDIF conversion: where a record's entries start, and record operations on
// byte views (the LDIF reader adds values that are views into a larger text).
#pragma once

#include <string_view>

#include "ekva/ekva.h"

namespace kestrin::ekva {

// The header in slot 0, as ekva_parse_header reads it; `present` is false
// for an array made by hand whose slot 0 is an ordinary entry or NULL.
struct Header {
    bool present = false;
    int capacity = 0;
    int mode = 0;
};
Header read_header(ekva_pair **record);

// Where a record's entries start. Slot 0 of a record made here holds the
// header; an array made by hand may hold an entry there. The operations keep
// two rules on purpose (ekva.h lists which sees what):
//
// entries_after_header: slot 1 when slot 0 holds a header, else slot 0 (an
// entry). The operations that count, copy, add or list the entries.
inline ekva_pair **entries_after_header(ekva_pair **record, const Header &h) {
    return h.present ? record + 1 : record;
}
inline ekva_pair **entries_after_header(ekva_pair **record) {
    return entries_after_header(record, read_header(record));
}

// entries_from_slot1: slot 1 whatever slot 0 holds, unread; no entries when
// slot 0 is NULL (an empty array). The value lookup, the set finders and
// the key=value and LDIF texts.
inline ekva_pair **entries_from_slot1(ekva_pair **record) { return record[0] ? record + 1 : record; }

// The lookups by key (ekva_get and its kin, ekva_count_key) take neither:
// they scan every slot from 0, so the header's own key finds the header.

// ekva_add with the key and value given as views (copied and NUL-terminated;
// neither may hold a NUL byte). value NULL stores a NULL value.
int add(ekva_pair ***record, std::string_view key, const std::string_view *value, int mode);

// Builds a new record by appending, as ekva_add in an appending mode would
// (same pairs, same growth, same header), without re-reading the header or
// counting the entries on every call.
class RecordBuilder {
public:
    RecordBuilder(int capacity, int mode);  // as ekva_create_mode
    RecordBuilder(const RecordBuilder &) = delete;
    RecordBuilder &operator=(const RecordBuilder &) = delete;
    ~RecordBuilder();

    bool ok() const { return record_ != nullptr; }
    // Copies key and value (NULL value: no value). False when memory ran
    // out: the record is then as it was.
    bool append(std::string_view key, const std::string_view *value);
    // The same with a malloc'd, NUL-terminated value that the record takes
    // over (freed when memory runs out).
    bool append_taking(std::string_view key, char *value);
    ekva_pair **release();  // hands the record over

private:
    bool store(ekva_pair *pair);  // stores a new pair, or frees it
    ekva_pair **record_;
    int capacity_, mode_, entries_ = 0;
};

}  // namespace kestrin::ekva
