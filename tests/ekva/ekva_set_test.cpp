#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ekva/ekva.h"
#include "support.h"
#include "util/alloc_internal.h"

namespace {

using V = std::vector<std::string>;

// A record with the given key/value entries (value "-" stands for none).
ekva_pair **record_of(const std::vector<std::pair<std::string, std::string>> &kv) {
    ekva_pair **r = ekva_create_mode(2, EKVA_MULTI);
    for (const auto &[k, v] : kv) ekva_add(&r, k.c_str(), v == "-" ? nullptr : v.c_str(), EKVA_MULTI);
    return r;
}

using testutil::Set;

TEST(EkvaSet, PushCopiesAndGrows) {
    Set set;
    ekva_pair **mine = record_of({{"cn", "a"}});
    set.count = ekva_set_push(&set.s, mine, 0, &set.capacity);
    EXPECT_EQ(set.count, 1);
    EXPECT_NE(set.s[0], mine);  // the caller keeps its own record
    ekva_free(mine);
    set.push(record_of({{"cn", "b"}}));
    EXPECT_EQ(set.capacity, 2);
    set.push(record_of({{"cn", "c"}}));
    EXPECT_EQ(set.count, 3);
    EXPECT_EQ(set.capacity, 4);
    EXPECT_EQ(set.column("cn"), (V{"a", "b", "c"}));
    EXPECT_STREQ(set.s[0][0]->key, "#EKVA_10:1:3");  // copies: capacity = entry count
}

// A record that copies to nothing is not stored: a null in the middle of the
// set would hide every later record from the scans, the sorts and the free.
TEST(EkvaSet, RecordWithoutEntriesIsNotStored) {
    Set set;
    set.push(record_of({{"cn", "a"}}));
    set.push(ekva_create(3));
    EXPECT_EQ(set.count, 1);
    EXPECT_EQ(set.s[1], nullptr);
    set.count = ekva_set_push(&set.s, nullptr, set.count, &set.capacity);
    EXPECT_EQ(set.count, 1);
    ekva_pair *no_header[] = {nullptr};  // made by hand: copies to nothing
    set.count = ekva_set_push(&set.s, no_header, set.count, &set.capacity);
    EXPECT_EQ(set.count, 1);
    EXPECT_EQ(set.capacity, 2);
    set.push(record_of({{"cn", "c"}}));
    set.push(record_of({{"cn", "b"}}));
    EXPECT_EQ(set.count, 3);
    EXPECT_EQ(set.column("cn"), (V{"a", "c", "b"}));
    EXPECT_EQ(ekva_set_count(set.s, "cn", nullptr), 3);
    EXPECT_NE(ekva_set_find(set.s, "cn", "b"), nullptr);
    ekva_set_sort(&set.s, "cn");
    EXPECT_EQ(set.column("cn"), (V{"a", "b", "c"}));

    Set empty;  // nothing stored at index 0: no set is made
    empty.push(ekva_create(1));
    EXPECT_EQ(empty.count, 0);
    EXPECT_EQ(empty.s, nullptr);
}

TEST(EkvaSet, FindAndCountAreExact) {
    Set set;
    set.push(record_of({{"CN", "x"}, {"mail", "a"}}));
    set.push(record_of({{"cn", "x"}, {"cn", "x"}, {"cn", "-"}}));
    set.push(record_of({{"cn", "y"}}));
    EXPECT_EQ(ekva_set_find(set.s, "cn", "x"), set.s[1]);
    EXPECT_STREQ(ekva_get(set.s[0], "cn"), "x");  // the record's own lookup ignores case
    EXPECT_EQ(ekva_set_find_nth(set.s, "cn", "x", 1), set.s[1]);  // two matches in one record
    EXPECT_EQ(ekva_set_find_nth(set.s, "cn", "x", 2), nullptr);
    EXPECT_EQ(ekva_set_find(set.s, "cn", "X"), nullptr);
    EXPECT_EQ(ekva_set_find(nullptr, "cn", "x"), nullptr);
    EXPECT_EQ(ekva_set_count(set.s, "cn", nullptr), 4);
    EXPECT_EQ(ekva_set_count(set.s, "cn", "x"), 2);
    EXPECT_EQ(ekva_set_count(set.s, "CN", nullptr), 1);
    EXPECT_EQ(ekva_set_count(nullptr, "cn", nullptr), 0);
    // The header is never an entry.
    EXPECT_EQ(ekva_set_count(set.s, "#EKVA_10:2:3", nullptr), 0);
}

struct SortCase {
    V values;  // "none": a record without the key
    V sorted;
    strlist_cmp cmp;
};
class EkvaSetSort : public testing::TestWithParam<SortCase> {};

TEST_P(EkvaSetSort, Orders) {
    Set set;
    for (const auto &v : GetParam().values)
        set.push(v == "none" ? record_of({{"other", "z"}}) : record_of({{"sn", v}}));
    if (GetParam().cmp)
        ekva_set_sort_cmp(&set.s, "SN", GetParam().cmp);
    else
        ekva_set_sort(&set.s, "sn");
    EXPECT_EQ(set.column("sn"), GetParam().sorted);
}

INSTANTIATE_TEST_SUITE_P(Table, EkvaSetSort,
                         testing::Values(SortCase{{"b", "a", "c"}, {"a", "b", "c"}, nullptr},
                                         SortCase{{"b", "none", "a"}, {"b", "none", "a"}, nullptr},
                                         SortCase{{"d", "c", "none", "b", "a"}, {"c", "d", "none", "a", "b"}, nullptr},
                                         SortCase{{"10", "9", "100"}, {"9", "10", "100"}, strcmp_number},
                                         SortCase{{"10.0.0.1", "9.1.1.1"}, {"9.1.1.1", "10.0.0.1"}, strcmp_dotted_quad}));

// Random sets with barriers against the adjacent-swap sort of the records.
TEST(EkvaSetSort, MatchesTheAdjacentSwapSort) {
    std::mt19937 rng(4);
    for (int round = 0; round < 60; ++round) {
        Set set;
        V ids;
        std::vector<std::pair<std::string, std::string>> model;  // (value or "", id)
        const int n = static_cast<int>(rng() % 30);
        for (int i = 0; i < n; ++i) {
            const std::string id = std::to_string(i);
            const bool barrier = rng() % 6 == 0;
            const std::string value(1, static_cast<char>('a' + rng() % 4));
            set.push(barrier ? record_of({{"id", id}}) : record_of({{"id", id}, {"k", value}}));
            model.emplace_back(barrier ? "" : value, id);
        }
        testutil::bubble_sort(model, [](const auto &a, const auto &b) {
            return !a.first.empty() && !b.first.empty() && a.first > b.first;
        });
        ekva_set_sort(&set.s, "k");
        V want;
        for (const auto &m : model) want.push_back(m.second);
        EXPECT_EQ(set.column("id"), want);
    }
}

class SetAllocationFailure : public testing::Test {
protected:
    void TearDown() override { kestrin::mem::fail_allocations_after(-1); }
};

TEST_F(SetAllocationFailure, PushKeepsTheSetAndCountersValid) {
    ekva_pair **rec = record_of({{"cn", "a"}, {"sn", "b"}});
    for (long fail_after = 0; fail_after < 12; ++fail_after) {
        Set set;
        for (int i = 0; i < 4; ++i) {
            kestrin::mem::fail_allocations_after(i == 2 ? fail_after : -1);
            const int before = set.count, capacity_before = set.capacity;
            set.count = ekva_set_push(&set.s, rec, set.count, &set.capacity);
            kestrin::mem::fail_allocations_after(-1);
            ASSERT_TRUE(set.count == before || set.count == before + 1);
            if (set.count == before) {
                EXPECT_EQ(set.capacity, capacity_before);
            }
            int n = 0;
            while (set.s && set.s[n]) ++n;
            EXPECT_EQ(n, set.count);
        }
    }
    ekva_free(rec);
}

}  // namespace
