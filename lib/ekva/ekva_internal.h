// Record operations on byte views, for the library's own readers (the LDIF
// reader adds values that are views into a larger text).
#pragma once

#include <string_view>

#include "ekva/ekva.h"

namespace kestrin::ekva {

// ekva_add with the key and value given as views (copied and NUL-terminated;
// neither may hold a NUL byte). value NULL stores a NULL value.
int add(ekva_pair ***record, std::string_view key, const std::string_view *value, int mode);

}  // namespace kestrin::ekva
