// Record operations on byte views, for the library's own readers (the LDIF
// reader adds values that are views into a larger text).
#pragma once

#include <string_view>

#include "ekva/ekva.h"

namespace kestrin::ekva {

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
    ekva_pair **release();  // hands the record over

private:
    ekva_pair **record_;
    int capacity_, mode_, entries_ = 0;
};

}  // namespace kestrin::ekva
