#include <cstdarg>
#include <cstdio>

#include "util/guard_internal.h"

namespace kestrin {

void message(const char *format, ...) noexcept {
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fflush(stderr);
}

}  // namespace kestrin
