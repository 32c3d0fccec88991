// Growth by index: the one rule behind strlist_push, strlist_set_push and
// ekva_set_push. The caller keeps the count (the next index) and the
// capacity; the array is made at index 0 with room for the capacity and a
// terminating null, and doubles when the index reaches the capacity.
#pragma once

#include <climits>

#include "util/alloc_internal.h"

namespace kestrin::grow {

// Makes room for slot `index` and the null after it. Returns false, with the
// array and *capacity as they were, when the arguments are out of range or
// memory runs out; at index 0 the array pointer is then null.
template <class T>
bool make_room(T **&array, int index, int *capacity) {
    if (!capacity || index < 0) return false;
    if (index == 0) {
        if (*capacity < 1) *capacity = 1;
        array = static_cast<T **>(mem::allocate((static_cast<size_t>(*capacity) + 1) * sizeof(T *)));
        if (!array) return false;
        array[0] = nullptr;
        return true;
    }
    if (!array || index > *capacity) return false;
    if (index == *capacity) {
        if (*capacity > INT_MAX / 2) return false;
        const int doubled = *capacity * 2;
        auto *grown = static_cast<T **>(mem::reallocate(array, (static_cast<size_t>(doubled) + 1) * sizeof(T *)));
        if (!grown) return false;
        array = grown;
        *capacity = doubled;
    }
    return true;
}

// Stores item at slot index (room made by make_room) and ends the array after it.
template <class T>
int store(T **array, int index, T *item) {
    array[index] = item;
    array[index + 1] = nullptr;
    return index + 1;
}

}  // namespace kestrin::grow
