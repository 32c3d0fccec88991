#include "ekva/strlist.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support.h"
#include "util/alloc_internal.h"

namespace {

using testutil::ListPtr;
using testutil::make_list;
using testutil::to_vector;
using V = std::vector<std::string>;

TEST(StrlistSearch, FindContainsCount) {
    ListPtr l(make_list({"a", "b", "x", "C", "x"}));
    EXPECT_EQ(strlist_find(l.p, "x"), 2);
    EXPECT_EQ(strlist_find(l.p, "zz"), -1);
    EXPECT_EQ(strlist_find(nullptr, "x"), -1);
    EXPECT_EQ(strlist_contains(l.p, "c"), 0);
    EXPECT_EQ(strlist_contains_nocase(l.p, "c"), 1);
    EXPECT_EQ(strlist_contains(nullptr, "c"), 0);
    EXPECT_EQ(strlist_count(l.p), 5);
    EXPECT_EQ(strlist_count(nullptr), 0);
}

struct SplitCase {
    std::string text;
    char sep;
    bool words;
    bool null_result;
    V fields;
};
class Split : public testing::TestWithParam<SplitCase> {};

TEST_P(Split, Fields) {
    const auto &c = GetParam();
    ListPtr l(c.words ? strlist_split_words(c.text.c_str(), c.sep) : strlist_split(c.text.c_str(), c.sep));
    EXPECT_EQ(l.p == nullptr, c.null_result);
    EXPECT_EQ(to_vector(l.p), c.fields);
}

INSTANTIATE_TEST_SUITE_P(Table, Split,
                         testing::Values(SplitCase{",a,,b,", ',', false, false, {"a", "b"}},
                                         SplitCase{",,,", ',', false, true, {}},
                                         SplitCase{"", ',', false, true, {}},
                                         SplitCase{"a b|c", '|', false, false, {"a b", "c"}},
                                         SplitCase{"x y, ,z", ',', true, false, {"x", "", "z"}},
                                         SplitCase{"\tone two;three", ';', true, false, {"one", "three"}}));

TEST(Split, StopsAfterAThousandFields) {
    std::string text;
    for (int i = 0; i < 1005; ++i) text += "f" + std::to_string(i) + ",";
    ListPtr l(strlist_split(text.c_str(), ','));
    const V fields = to_vector(l.p);
    ASSERT_EQ(fields.size(), 1000u);
    EXPECT_EQ(fields.back(), "f999");
}

TEST(Append, CopiesAndUniqueness) {
    ListPtr a(make_list({"a", "b"}));
    ListPtr other(make_list({"b", "c", "c"}));
    a.p = strlist_append_unique(a.p, other.p);
    EXPECT_EQ(to_vector(a.p), (V{"a", "b", "c"}));
    a.p = strlist_append(a.p, other.p);
    EXPECT_EQ(to_vector(a.p), (V{"a", "b", "c", "b", "c", "c"}));
    EXPECT_NE(a.p[3], other.p[0]);  // copies, not the same texts
    EXPECT_EQ(strlist_append(nullptr, other.p), nullptr);
    char **same = a.p;
    EXPECT_EQ(strlist_append(a.p, nullptr), same);
    a.p = strlist_append(a.p, a.p);  // a list appended to itself
    EXPECT_EQ(strlist_count(a.p), 12);
}

TEST(Append, Text) {
    EXPECT_EQ(strlist_append_text(nullptr, 0, "a,b"), nullptr);
    ListPtr l(make_list({"a"}));
    l.p = strlist_append_text(l.p, 1, "a,,b,b");
    EXPECT_EQ(to_vector(l.p), (V{"a", "b"}));
    l.p = strlist_append_text(l.p, 0, "a,c");
    EXPECT_EQ(to_vector(l.p), (V{"a", "b", "a", "c"}));
    l.p = strlist_append_text(l.p, 0, nullptr);
    l.p = strlist_append_text(l.p, 0, ",,");
    EXPECT_EQ(strlist_count(l.p), 4);
}

TEST(Dup, CopiesEveryEntry) {
    ListPtr l(make_list({"x", "y"}));
    ListPtr d(strlist_dup(l.p));
    EXPECT_EQ(to_vector(d.p), (V{"x", "y"}));
    EXPECT_NE(d.p[0], l.p[0]);
    EXPECT_EQ(strlist_dup(nullptr), nullptr);
    ListPtr empty(make_list({}));
    ListPtr empty_copy(strlist_dup(empty.p));
    ASSERT_NE(empty_copy.p, nullptr);
    EXPECT_EQ(strlist_count(empty_copy.p), 0);
}

TEST(Join, Separators) {
    ListPtr l(make_list({"a", "b", "c"}));
    char *text = strlist_join(l.p, '-');
    EXPECT_STREQ(text, "a-b-c");
    std::free(text);
    ListPtr e(make_list({}));
    text = strlist_join(e.p, '-');
    EXPECT_STREQ(text, "");
    std::free(text);
    EXPECT_EQ(strlist_join(nullptr, '-'), nullptr);
    const std::string long_entry(5000, 'z');
    ListPtr big(make_list({"a", long_entry, "b"}));
    text = strlist_join(big.p, ',');
    EXPECT_EQ(std::string(text), "a," + long_entry + ",b");
    std::free(text);
}

TEST(Push, DoublesTheCallersCapacity) {
    char **list = nullptr;
    int capacity = 2;
    int n = strlist_push(&list, "one", 0, &capacity);
    n = strlist_push(&list, "two", n, &capacity);
    EXPECT_EQ(capacity, 2);
    n = strlist_push(&list, "three", n, &capacity);
    EXPECT_EQ(n, 3);
    EXPECT_EQ(capacity, 4);
    EXPECT_EQ(to_vector(list), (V{"one", "two", "three"}));
    for (int i = 0; i < 6; ++i) n = strlist_push(&list, "more", n, &capacity);
    EXPECT_EQ(capacity, 16);
    EXPECT_EQ(n, 9);
    strlist_free(list);
}

TEST(Push, SetsOfLists) {
    ListPtr a(make_list({"a"})), b(make_list({"b", "c"}));
    char ***sets = nullptr;
    int capacity = 1;
    int n = strlist_set_push(&sets, a.p, 0, &capacity);
    n = strlist_set_push(&sets, b.p, n, &capacity);
    EXPECT_EQ(n, 2);
    EXPECT_EQ(capacity, 2);
    EXPECT_EQ(to_vector(sets[1]), (V{"b", "c"}));
    EXPECT_NE(sets[1], b.p);
    EXPECT_EQ(sets[2], nullptr);
    for (char ***s = sets; *s; ++s) strlist_free(*s);
    std::free(sets);
}

TEST(Comparators, Number) {
    EXPECT_EQ(strcmp_number("2.9", "2.1"), 0);
    EXPECT_EQ(strcmp_number("abc", "0"), 0);
    EXPECT_EQ(strcmp_number("10", "9"), 1);
    EXPECT_EQ(strcmp_number("9", "100"), -91);
    EXPECT_EQ(strcmp_number("1e300", "0"), INT_MAX);
    EXPECT_EQ(strcmp_number("-1e300", "1"), INT_MIN);
    EXPECT_EQ(strcmp_number("inf", "inf"), 0);
    EXPECT_EQ(strcmp_number(" 5x", "3"), 2);
}

TEST(Comparators, DottedQuad) {
    EXPECT_EQ(strcmp_dotted_quad("10.0.0.2", "9.255.255.255"), 1);
    EXPECT_EQ(strcmp_dotted_quad("9.255.255.255", "10.0.0.2"), -1);
    EXPECT_EQ(strcmp_dotted_quad("1.2.3.4", "1.2.3.4"), 0);
    EXPECT_EQ(strcmp_dotted_quad("1.2", "1.2.0.0"), 0);  // unread parts count 0
    EXPECT_EQ(strcmp_dotted_quad("x", "0.0.0.0"), 0);
}

struct SortCase {
    const char *name;
    strlist_cmp cmp;
    std::function<std::string(std::mt19937 &)> make;
};

// Random lists sorted by every comparator that is a strict weak ordering
// give exactly the adjacent-swap order.
TEST(Sort, MatchesTheAdjacentSwapSort) {
    std::mt19937 rng(17);
    const std::vector<SortCase> cases = {
        {"strcmp", nullptr, [](std::mt19937 &r) { return std::string(1 + r() % 3, static_cast<char>('a' + r() % 4)); }},
        {"dotted quad", strcmp_dotted_quad,
         [](std::mt19937 &r) {
             return std::to_string(r() % 3) + "." + std::to_string(r() % 3) + "." + std::to_string(r() % 2) +
                    ".1" + (r() % 2 ? "x" : "");
         }},
        {"number", strcmp_number, [](std::mt19937 &r) { return std::to_string(static_cast<int>(r() % 7) - 3) + (r() % 2 ? ".0" : ""); }},
    };
    for (const auto &c : cases) {
        for (int round = 0; round < 50; ++round) {
            V texts;
            const size_t n = rng() % 40;
            for (size_t i = 0; i < n; ++i) texts.push_back(c.make(rng) + "#" + std::to_string(i));
            // The "#i" suffix tells equal keys apart; comparators see only the key.
            std::vector<std::pair<std::string, std::string>> expected;
            for (const auto &t : texts) expected.emplace_back(t.substr(0, t.find('#')), t);
            strlist_cmp cmp = c.cmp ? c.cmp : std::strcmp;
            testutil::bubble_sort(expected, [&](const auto &a, const auto &b) { return cmp(a.first.c_str(), b.first.c_str()) > 0; });
            // Sort the keys alone but track identity through a parallel list.
            V keys;
            for (const auto &e : expected) keys.push_back(e.first);
            V shuffled_keys;
            for (const auto &t : texts) shuffled_keys.push_back(t.substr(0, t.find('#')));
            char **list = make_list(shuffled_keys);
            std::vector<char *> identity(list, list + shuffled_keys.size());
            strlist_sort(&list, c.cmp);
            V got_tags;
            for (char **p = list; *p; ++p) {
                const size_t index = static_cast<size_t>(std::find(identity.begin(), identity.end(), *p) - identity.begin());
                got_tags.push_back(texts[index]);
            }
            V want_tags;
            for (const auto &e : expected) want_tags.push_back(e.second);
            EXPECT_EQ(got_tags, want_tags) << c.name;
            strlist_free(list);
        }
    }
    char **none = nullptr;
    strlist_sort(&none, nullptr);
    EXPECT_EQ(none, nullptr);
}

// Every growing operation, with the n-th allocation failing: the list stays
// valid and unchanged, and nothing leaks (AddressSanitizer checks that).
class ListAllocationFailure : public testing::Test {
protected:
    void TearDown() override { kestrin::mem::fail_allocations_after(-1); }
};

TEST_F(ListAllocationFailure, AppendAndPushKeepListsValid) {
    for (long fail_after = 0; fail_after < 8; ++fail_after) {
        ListPtr list(make_list({"a", "b"}));
        ListPtr other(make_list({"c", "b", "d"}));
        kestrin::mem::fail_allocations_after(fail_after);
        list.p = strlist_append_unique(list.p, other.p);
        list.p = strlist_append(list.p, other.p);
        kestrin::mem::fail_allocations_after(-1);
        const V got = to_vector(list.p);
        EXPECT_TRUE(got == V({"a", "b"}) || got == V({"a", "b", "c", "d"}) || got == V({"a", "b", "c", "d", "c", "b", "d"}))
            << fail_after;
        // Dup and split either fail whole or succeed whole.
        kestrin::mem::fail_allocations_after(fail_after);
        ListPtr dup(strlist_dup(other.p));
        ListPtr split(strlist_split("x,y,z", ','));
        kestrin::mem::fail_allocations_after(-1);
        EXPECT_TRUE(!dup.p || strlist_count(dup.p) == 3);
        EXPECT_TRUE(!split.p || strlist_count(split.p) == 3);
    }
    for (long fail_after = 0; fail_after < 6; ++fail_after) {
        char **list = nullptr;
        int capacity = 1, n = 0;
        for (int i = 0; i < 4; ++i) {
            kestrin::mem::fail_allocations_after(i == 2 ? fail_after : -1);
            const int before = n;
            n = strlist_push(&list, "v", n, &capacity);
            kestrin::mem::fail_allocations_after(-1);
            EXPECT_TRUE(n == before || n == before + 1);
            EXPECT_EQ(strlist_count(list), n);
            EXPECT_GE(capacity, n);
        }
        strlist_free(list);
    }
}

}  // namespace
