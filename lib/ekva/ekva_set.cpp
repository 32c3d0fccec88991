// Record sets: growth by index, exact-match find and count, and a stable sort
// by the value of a key in which records without that value stay put.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "util/guard_internal.h"
#include "ekva/ekva.h"
#include "ekva/ekva_internal.h"
#include "util/grow_internal.h"

namespace kestrin::ekva_set {
namespace {

bool entry_matches(const ekva_pair *pair, const char *key, const char *value) {
    if (!pair->key || std::strcmp(pair->key, key) != 0) return false;
    if (!value) return true;
    return pair->value && std::strcmp(pair->value, value) == 0;
}

// Slot 0 is passed over in every record, whatever it holds.
template <class Visit>
void for_each_entry(ekva_pair ***set, Visit visit) {
    for (ekva_pair ***r = set; *r; ++r)
        for (ekva_pair **p = ekva::entries_from_slot1(*r); *p; ++p)
            if (!visit(*r, *p)) return;
}

struct Keyed {
    const char *value;
    ekva_pair **record;
};

// Sorts each run of records that have a value for the key; a record without
// one is a barrier that nothing crosses, as in an adjacent-swap sort that
// never swaps it.
void sort_runs(std::vector<Keyed> &items, strlist_cmp cmp) {
    auto before = [cmp](const Keyed &a, const Keyed &b) { return cmp(b.value, a.value) > 0; };
    for (auto run = items.begin(); run != items.end();) {
        run = std::find_if(run, items.end(), [](const Keyed &k) { return k.value != nullptr; });
        const auto end = std::find_if(run, items.end(), [](const Keyed &k) { return k.value == nullptr; });
        std::stable_sort(run, end, before);
        run = end;
    }
}

void sort(ekva_pair ****set, const char *key, strlist_cmp cmp) {
    if (!set || !*set || !key) return;
    if (!cmp) cmp = std::strcmp;
    // Out of memory: the set stays as it was (it is written back only at the end).
    guarded([&] {
        std::vector<Keyed> items;
        for (ekva_pair ***r = *set; *r; ++r) items.push_back({ekva_get(*r, key), *r});
        sort_runs(items, cmp);
        for (size_t i = 0; i < items.size(); ++i) (*set)[i] = items[i].record;
    });
}

}  // namespace
}  // namespace kestrin::ekva_set

using namespace kestrin;

extern "C" int ekva_set_push(ekva_pair ****set, ekva_pair **record, int index, int *capacity) noexcept {
    if (!set) return index;
    // A record that copies to nothing (no entries, no header, or no memory)
    // is not stored: a null inside the set would hide every later record.
    ekva_pair **copy = ekva_copy(record);
    if (!copy) return index;
    if (!grow::make_room(*set, index, capacity)) {
        ekva_free(copy);
        return index;
    }
    return grow::store(*set, index, copy);
}

extern "C" ekva_pair **ekva_set_find_nth(ekva_pair ***set, const char *key, const char *value, int n) noexcept {
    if (!set || !key || !value || n < 0) return nullptr;
    ekva_pair **found = nullptr;
    ekva_set::for_each_entry(set, [&](ekva_pair **record, const ekva_pair *pair) {
        if (ekva_set::entry_matches(pair, key, value) && n-- == 0) {
            found = record;
            return false;
        }
        return true;
    });
    return found;
}

extern "C" ekva_pair **ekva_set_find(ekva_pair ***set, const char *key, const char *value) noexcept {
    return ekva_set_find_nth(set, key, value, 0);
}

extern "C" int ekva_set_count(ekva_pair ***set, const char *key, const char *value) noexcept {
    if (!set || !key) return 0;
    int count = 0;
    ekva_set::for_each_entry(set, [&](ekva_pair **, const ekva_pair *pair) {
        count += ekva_set::entry_matches(pair, key, value);
        return true;
    });
    return count;
}

extern "C" void ekva_set_sort(ekva_pair ****set, const char *key) noexcept { ekva_set::sort(set, key, nullptr); }

extern "C" void ekva_set_sort_cmp(ekva_pair ****set, const char *key, strlist_cmp cmp) noexcept {
    ekva_set::sort(set, key, cmp);
}

extern "C" void ekva_set_free(ekva_pair ***set) noexcept {
    if (!set) return;
    for (ekva_pair ***r = set; *r; ++r) ekva_free(*r);
    std::free(set);
}
