#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

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
// memcpy, with the short copies (most keys and values are a few bytes) done
// in two overlapping loads and stores instead of a call.
void copy_bytes(char *to, const char *from, std::size_t n) {
    if (n >= 8 && n <= 16) {
        std::uint64_t head, tail;
        std::memcpy(&head, from, 8);
        std::memcpy(&tail, from + n - 8, 8);
        std::memcpy(to, &head, 8);
        std::memcpy(to + n - 8, &tail, 8);
    } else if (n >= 4 && n < 8) {
        std::uint32_t head, tail;
        std::memcpy(&head, from, 4);
        std::memcpy(&tail, from + n - 4, 4);
        std::memcpy(to, &head, 4);
        std::memcpy(to + n - 4, &tail, 4);
    } else if (n != 0) {
        std::memcpy(to, from, n);
    }
}
}  // namespace

void *allocate(std::size_t size) { return should_fail() ? nullptr : std::malloc(size); }

void *reallocate(void *block, std::size_t size) {
    return should_fail() ? nullptr : std::realloc(block, size);
}

void advise_huge_pages(void *block, std::size_t size) {
    constexpr std::uintptr_t kHuge = 2u << 20;
    if (size < 4 * kHuge) return;
    const auto start = (reinterpret_cast<std::uintptr_t>(block) + kHuge - 1) & ~(kHuge - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(block) + size) & ~(kHuge - 1);
    if (end > start) ::madvise(reinterpret_cast<void *>(start), end - start, MADV_HUGEPAGE);
}

char *duplicate(std::string_view text) {
    char *copy = static_cast<char *>(allocate(text.size() + 1));
    if (!copy) return nullptr;
    copy_bytes(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

void fail_allocations_after(long successes) { remaining_successes = successes; }

}  // namespace kestrin::mem
