// Helpers shared by the string-list and record tests.
#pragma once

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "ekva/strlist.h"

namespace testutil {

// A new string list (free with strlist_free) holding the texts.
inline char **make_list(const std::vector<std::string> &texts) {
    if (texts.empty()) return static_cast<char **>(calloc(1, sizeof(char *)));
    char **list = nullptr;
    int capacity = 1, n = 0;
    for (const auto &t : texts) n = strlist_push(&list, t.c_str(), n, &capacity);
    return list;
}

inline std::vector<std::string> to_vector(char **list) {
    std::vector<std::string> v;
    for (char **p = list; p && *p; ++p) v.emplace_back(*p);
    return v;
}

// The adjacent-swap sort that strlist_sort and the set sort must agree with.
template <class T, class Less>
void bubble_sort(std::vector<T> &v, Less swap_when) {
    for (size_t p = 1; p < v.size(); ++p)
        for (size_t j = 0; j + p < v.size(); ++j)
            if (swap_when(v[j], v[j + 1])) std::swap(v[j], v[j + 1]);
}

}  // namespace testutil
