// The library's heap allocations go through these two functions so that
// tests can make the n-th allocation fail and prove that every failure path
// leaves the caller's data valid. Outside tests they are malloc and realloc.
#pragma once

#include <cstddef>
#include <string_view>

namespace kestrin::mem {

void *allocate(std::size_t size);
void *reallocate(void *block, std::size_t size);

// A malloc'd, NUL-terminated copy of text (NULL when memory runs out).
char *duplicate(std::string_view text);

// Asks the kernel to back the whole 2 MiB pages inside a large block with
// huge pages: for buffers of many megabytes this removes most page faults,
// which dominate the time of writing them once. A no-op for small blocks.
void advise_huge_pages(void *block, std::size_t size);

// Test hook: after `successes` more successful allocations, every further
// allocation fails until the hook is reset with a negative value.
void fail_allocations_after(long successes);

}  // namespace kestrin::mem
