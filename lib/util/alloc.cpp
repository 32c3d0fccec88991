#include <cstdlib>

#include "util/alloc_internal.h"

namespace kestrin::mem {
namespace {
long remaining_successes = -1;  // negative: allocations never fail on purpose

bool should_fail() {
    if (remaining_successes < 0) return false;
    if (remaining_successes == 0) return true;
    --remaining_successes;
    return false;
}
}  // namespace

void *allocate(std::size_t size) { return should_fail() ? nullptr : std::malloc(size); }

void *reallocate(void *block, std::size_t size) {
    return should_fail() ? nullptr : std::realloc(block, size);
}

void fail_allocations_after(long successes) { remaining_successes = successes; }

}  // namespace kestrin::mem
