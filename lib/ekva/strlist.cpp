// String lists. Searches are linear; appending unique entries and sorting
// use a hash set and a stable merge sort, with the results of the plain
// quadratic algorithms.
#include "util/guard_internal.h"
#include "ekva/strlist.h"

#include <strings.h>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "util/alloc_internal.h"
#include "util/grow_internal.h"
#include "util/str.h"

namespace kestrin::strlist {
namespace {

constexpr int kMaxFields = 1000;

void free_texts(const std::vector<char *> &texts) {
    for (char *t : texts) std::free(t);
}

// Appends the texts (already copies owned by the caller) to list; on failure
// the copies are freed and list is returned unchanged.
char **append_copies(char **list, std::vector<char *> &copies) {
    if (copies.empty()) return list;
    const size_t n = static_cast<size_t>(strlist_count(list));
    auto *grown = static_cast<char **>(mem::reallocate(list, (n + copies.size() + 1) * sizeof(char *)));
    if (!grown) {
        free_texts(copies);
        return list;
    }
    std::copy(copies.begin(), copies.end(), grown + n);
    grown[n + copies.size()] = nullptr;
    return grown;
}

// Copies the entries of other for which keep() holds; false when out of memory.
template <class Keep>
bool copy_entries(char **other, std::vector<char *> &copies, Keep keep) {
    for (char **p = other; *p; ++p) {
        if (!keep(*p)) continue;
        char *copy = mem::duplicate(*p);
        if (!copy) return false;
        copies.push_back(copy);
    }
    return true;
}

template <class Keep>
char **append_if(char **list, char **other, Keep keep) {
    if (!list || !other) return list;
    std::vector<char *> copies;
    // False also when the vector or the hash set ran out of memory.
    if (!guarded(false, [&] { return copy_entries(other, copies, keep); })) {
        free_texts(copies);
        return list;
    }
    return append_copies(list, copies);
}

char **split(const char *text, char sep, bool first_words) {
    if (!text) return nullptr;
    char **list = nullptr;
    int count = 0;
    for (const char *p = text; *p;) {
        const char *end = p;
        while (*end && *end != sep) ++end;
        if (end > p) {
            if (count == kMaxFields) break;
            if (!list) {
                list = static_cast<char **>(mem::allocate((kMaxFields + 1) * sizeof(char *)));
                if (!list) return nullptr;
            }
            char *field = mem::duplicate({p, static_cast<size_t>(end - p)});
            if (!field) {
                list[count] = nullptr;
                strlist_free(list);
                return nullptr;
            }
            if (first_words) str_first_word(field);
            list[count++] = field;
        }
        p = *end ? end + 1 : end;
    }
    if (list) list[count] = nullptr;
    return list;
}

}  // namespace
}  // namespace kestrin::strlist

using namespace kestrin;
using namespace kestrin::strlist;

extern "C" int strlist_find(char **list, const char *text) noexcept {
    if (!list || !text) return -1;
    for (int i = 0; list[i]; ++i)
        if (std::strcmp(list[i], text) == 0) return i;
    return -1;
}

extern "C" int strlist_contains(char **list, const char *text) noexcept { return strlist_find(list, text) >= 0; }

extern "C" int strlist_contains_nocase(char **list, const char *text) noexcept {
    if (!list || !text) return 0;
    for (char **p = list; *p; ++p)
        if (strcasecmp(*p, text) == 0) return 1;
    return 0;
}

extern "C" int strlist_count(char **list) noexcept {
    int n = 0;
    if (list)
        while (list[n]) ++n;
    return n;
}

extern "C" char **strlist_dup(char **list) noexcept {
    if (!list) return nullptr;
    auto *copy = static_cast<char **>(mem::allocate(sizeof(char *)));
    if (!copy) return nullptr;
    copy[0] = nullptr;
    char **result = strlist_append(copy, list);
    if (strlist_count(result) != strlist_count(list)) {  // out of memory
        strlist_free(result);
        return nullptr;
    }
    return result;
}

extern "C" char **strlist_append(char **list, char **other) noexcept {
    return append_if(list, other, [](const char *) { return true; });
}

extern "C" char **strlist_append_unique(char **list, char **other) noexcept {
    if (!list || !other) return list;
    return guarded(list, [&] {
        std::unordered_set<std::string_view> seen;
        for (char **p = list; *p; ++p) seen.insert(*p);
        // Views into other stay valid: its texts do not move.
        return append_if(list, other, [&](const char *text) { return seen.insert(text).second; });
    });
}

extern "C" char **strlist_append_text(char **list, int unique, const char *text) noexcept {
    if (!text || !list) return list;
    char **items = strlist_split(text, ',');
    char **result = unique ? strlist_append_unique(list, items) : strlist_append(list, items);
    strlist_free(items);
    return result;
}

extern "C" char *strlist_join(char **list, char sep) noexcept {
    if (!list) return nullptr;
    size_t total = 0;
    for (char **p = list; *p; ++p) total += std::strlen(*p) + 1;
    char *text = static_cast<char *>(mem::allocate(total + 1));
    if (!text) return nullptr;
    char *out = text;
    for (char **p = list; *p; ++p) {
        if (p != list) *out++ = sep;
        const size_t len = std::strlen(*p);
        std::memcpy(out, *p, len);
        out += len;
    }
    *out = '\0';
    return text;
}

extern "C" char **strlist_split(const char *text, char sep) noexcept { return split(text, sep, false); }

extern "C" char **strlist_split_words(const char *text, char sep) noexcept { return split(text, sep, true); }

extern "C" int strlist_push(char ***list, const char *text, int index, int *capacity) noexcept {
    if (!list || !text) return index;
    char *copy = mem::duplicate(text);
    if (!copy) return index;
    if (!grow::make_room(*list, index, capacity)) {
        std::free(copy);
        return index;
    }
    return grow::store(*list, index, copy);
}

extern "C" int strlist_set_push(char ****sets, char **list, int index, int *capacity) noexcept {
    if (!sets) return index;
    char **copy = strlist_dup(list);
    if (list && !copy) return index;
    if (!grow::make_room(*sets, index, capacity)) {
        strlist_free(copy);
        return index;
    }
    return grow::store(*sets, index, copy);
}

extern "C" void strlist_sort(char ***list, strlist_cmp cmp) noexcept {
    if (!list || !*list) return;
    if (!cmp) cmp = std::strcmp;
    char **begin = *list;
    char **end = begin + strlist_count(begin);
    // The adjacent-swap sort moves b before a exactly when cmp(a, b) > 0.
    const bool sorted = guarded(false, [&] {
        std::stable_sort(begin, end, [cmp](const char *a, const char *b) { return cmp(b, a) > 0; });
        return true;
    });
    if (!sorted) {
        // No memory for the merge buffer: stable insertion sort in place.
        for (char **i = begin + 1; i < end; ++i)
            for (char **j = i; j > begin && cmp(j[-1], j[0]) > 0; --j) std::swap(j[-1], j[0]);
    }
}

extern "C" int strcmp_number(const char *a, const char *b) noexcept {
    double x = 0, y = 0;
    if (std::sscanf(a, "%lf", &x) != 1) x = 0;
    if (std::sscanf(b, "%lf", &y) != 1) y = 0;
    const double d = x - y;
    if (std::isnan(d)) return 0;
    if (d >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (d <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(d);
}

extern "C" int strcmp_dotted_quad(const char *a, const char *b) noexcept {
    int x[4] = {0, 0, 0, 0}, y[4] = {0, 0, 0, 0};
    std::sscanf(a, "%d.%d.%d.%d", &x[0], &x[1], &x[2], &x[3]);
    std::sscanf(b, "%d.%d.%d.%d", &y[0], &y[1], &y[2], &y[3]);
    for (int i = 0; i < 4; ++i) {
        if (x[i] > y[i]) return 1;
        if (x[i] < y[i]) return -1;
    }
    return 0;
}

extern "C" void strlist_free(char **list) noexcept {
    if (!list) return;
    for (char **p = list; *p; ++p) std::free(*p);
    std::free(list);
}
