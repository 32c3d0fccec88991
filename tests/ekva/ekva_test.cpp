#include "ekva/ekva.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support.h"
#include "util/alloc_internal.h"

namespace {

using V = std::vector<std::string>;

using testutil::entries;
using testutil::Record;

TEST(EkvaHeader, Parse) {
    int c = 7, m = 7;
    EXPECT_EQ(ekva_parse_header("#EKVA_10:50:3", &c, &m), 1);
    EXPECT_EQ(c, 50);
    EXPECT_EQ(m, 3);
    c = m = 7;
    EXPECT_EQ(ekva_parse_header("x#EKVA_10:1:2", &c, &m), 0);
    EXPECT_EQ(c, 7);
    EXPECT_EQ(m, 7);
    EXPECT_EQ(ekva_parse_header("#EKVA_10:x", &c, &m), 0);
    EXPECT_EQ(c, 0);
    EXPECT_EQ(m, 0);
    c = m = 7;
    EXPECT_EQ(ekva_parse_header("#EKVA_10:5", &c, &m), 0);
    EXPECT_EQ(c, 0);
    EXPECT_EQ(ekva_parse_header("#EKVA_10: 4:+2 tail", &c, &m), 1);  // as scanf reads it
    EXPECT_EQ(c, 4);
    EXPECT_EQ(m, 2);
    EXPECT_EQ(ekva_parse_header(nullptr, &c, &m), 0);
}

TEST(EkvaCreate, ArgumentsAndHeader) {
    EXPECT_EQ(ekva_create(0), nullptr);
    EXPECT_EQ(ekva_create_mode(5, 0), nullptr);
    EXPECT_EQ(ekva_create_mode(5, 5), nullptr);
    Record a(ekva_create_mode(1, 4));
    EXPECT_EQ(a.header(), "#EKVA_10:1:4");
    EXPECT_EQ(a.r[0]->value, nullptr);
    EXPECT_EQ(a.r[1], nullptr);
    Record b(ekva_create(3));
    EXPECT_EQ(b.header(), "#EKVA_10:3:2");
}

TEST(EkvaAdd, CapacityDoublesInTheHeader) {
    Record rec(ekva_create(2));
    EXPECT_EQ(rec.add("a", "1", EKVA_REPLACE), 2);
    EXPECT_EQ(rec.add("b", "2", EKVA_REPLACE), 3);
    EXPECT_EQ(rec.header(), "#EKVA_10:2:2");
    EXPECT_EQ(rec.add("c", "3", EKVA_REPLACE), 4);
    EXPECT_EQ(rec.header(), "#EKVA_10:4:2");
    rec.add("d", "4", EKVA_REPLACE);
    EXPECT_EQ(rec.add("e", "5", EKVA_REPLACE), 6);
    EXPECT_EQ(rec.header(), "#EKVA_10:8:2");
    EXPECT_EQ(entries(rec.r), (V{"a=1", "b=2", "c=3", "d=4", "e=5"}));
}

TEST(EkvaAdd, FullRecordGrowsEvenWhenNothingIsAdded) {
    Record rec(ekva_create_mode(2, EKVA_UNIQUE));
    rec.add("a", "1", EKVA_UNIQUE);
    rec.add("b", "2", EKVA_UNIQUE);
    EXPECT_EQ(rec.add("A", "x", EKVA_UNIQUE), 3);
    EXPECT_EQ(rec.header(), "#EKVA_10:4:1");
    EXPECT_EQ(entries(rec.r), (V{"a=1", "b=2"}));
}

struct ModeCase {
    int mode;
    V expected;
    int result;
};
class EkvaModes : public testing::TestWithParam<ModeCase> {};

// Adding "NAME" to a record holding name=old, x=y, name=(null).
TEST_P(EkvaModes, ExistingKeyInAnotherCase) {
    Record rec(ekva_create_mode(8, EKVA_MULTI));
    rec.add("name", "old", EKVA_APPEND);
    rec.add("x", "y", EKVA_APPEND);
    rec.add("name", nullptr, EKVA_APPEND);
    EXPECT_EQ(rec.add("NAME", "new", GetParam().mode), GetParam().result);
    EXPECT_EQ(entries(rec.r), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EkvaModes,
    testing::Values(ModeCase{EKVA_APPEND, {"name=old", "x=y", "name=(null)", "NAME=new"}, 5},
                    ModeCase{EKVA_UNIQUE, {"name=old", "x=y", "name=(null)"}, 4},
                    ModeCase{EKVA_REPLACE, {"name=new", "x=y", "name=(null)"}, 4},
                    ModeCase{EKVA_MULTI, {"name=old", "x=y", "name=(null)", "NAME=new"}, 5},
                    ModeCase{EKVA_MULTI_ALT, {"name=old", "x=y", "name=(null)", "NAME=new"}, 5},
                    ModeCase{99, {"name=old", "x=y", "name=(null)", "NAME=new"}, 5}));

TEST(EkvaAdd, ReplaceWithNullAndNullRecord) {
    Record rec(ekva_create(4));
    rec.add("k", "v", EKVA_REPLACE);
    rec.add("k", "w", EKVA_APPEND);
    EXPECT_EQ(rec.add("K", nullptr, EKVA_REPLACE), 3);
    EXPECT_EQ(entries(rec.r), (V{"k=(null)", "k=(null)"}));
    ekva_pair **none = nullptr;
    EXPECT_EQ(ekva_add(&none, "k", "v", EKVA_APPEND), 0);
    EXPECT_EQ(ekva_add(nullptr, "k", "v", EKVA_APPEND), 0);
}

TEST(EkvaAdd, ArrayWithoutHeaderIsNeverGrown) {
    // A hand-made array with room for four slots.
    auto **arr = static_cast<ekva_pair **>(std::calloc(4, sizeof(ekva_pair *)));
    arr[0] = static_cast<ekva_pair *>(std::malloc(sizeof(ekva_pair)));
    arr[0]->key = strdup("first");
    arr[0]->value = strdup("1");
    EXPECT_EQ(ekva_add(&arr, "second", "2", EKVA_MULTI), 2);
    EXPECT_EQ(ekva_add(&arr, "FIRST", "x", EKVA_UNIQUE), 2);
    EXPECT_STREQ(ekva_get(arr, "first"), "1");  // slot 0 is an ordinary entry
    EXPECT_EQ(ekva_count(arr), 2);
    EXPECT_EQ(ekva_get_key(arr, "1"), nullptr);  // ...but value lookups skip it
    EXPECT_STREQ(ekva_get_key(arr, "2"), "second");
    EXPECT_EQ(ekva_copy(arr), nullptr);
    ekva_free(arr);
}

TEST(EkvaAdd, HandMadeArrayWithHeaderAndGarbageIsScanned) {
    // Room for the header, capacity 4 and the terminator; the spare slots
    // hold garbage that must not be taken for anything.
    auto **arr = static_cast<ekva_pair **>(std::malloc(6 * sizeof(ekva_pair *)));
    std::memset(arr, 0x5A, 6 * sizeof(ekva_pair *));
    arr[0] = static_cast<ekva_pair *>(std::malloc(sizeof(ekva_pair)));
    arr[0]->key = strdup("#EKVA_10:4:3");
    arr[0]->value = nullptr;
    arr[1] = nullptr;
    EXPECT_EQ(ekva_add(&arr, "a", "1", EKVA_MULTI), 2);
    EXPECT_EQ(ekva_add(&arr, "b", "2", EKVA_MULTI), 3);
    EXPECT_EQ(ekva_count(arr), 2);
    ekva_free(arr);
}

TEST(EkvaLookup, FromSlotZero) {
    Record rec(ekva_create(4));
    rec.add("cn", "a", EKVA_MULTI);
    rec.add("CN", nullptr, EKVA_MULTI);
    rec.add("cn", "b", EKVA_MULTI);
    EXPECT_EQ(ekva_count(rec.r), 3);
    EXPECT_EQ(ekva_count_key(rec.r, "Cn"), 3);
    EXPECT_STREQ(ekva_get(rec.r, "cn"), "a");
    EXPECT_EQ(ekva_get_nth(rec.r, "cn", 1), nullptr);
    EXPECT_STREQ(ekva_get_nth(rec.r, "cn", 2), "b");
    EXPECT_EQ(ekva_get_nth(rec.r, "cn", 3), nullptr);
    char **values = ekva_get_values(rec.r, "CN");
    EXPECT_EQ(testutil::to_vector(values), (V{"a", "b"}));
    strlist_free(values);
    EXPECT_EQ(ekva_get_values(rec.r, "sn"), nullptr);
    EXPECT_STREQ(ekva_get_key(rec.r, "B"), "cn");
    // The header is found by its own key, with its null value.
    EXPECT_EQ(ekva_count_key(rec.r, "#EKVA_10:4:2"), 1);
    EXPECT_EQ(ekva_get(rec.r, "#ekva_10:4:2"), nullptr);
    EXPECT_EQ(ekva_count(nullptr), 0);
    EXPECT_EQ(ekva_get(nullptr, "cn"), nullptr);
}

TEST(EkvaCopy, CapacityIsTheEntryCount) {
    Record rec(ekva_create_mode(10, EKVA_MULTI));
    EXPECT_EQ(ekva_copy(rec.r), nullptr);  // header only
    rec.add("a", "1", EKVA_MULTI);
    rec.add("a", nullptr, EKVA_MULTI);
    rec.add("b", "2", EKVA_MULTI);
    Record copy(ekva_copy(rec.r));
    ASSERT_NE(copy.r, nullptr);
    EXPECT_EQ(copy.header(), "#EKVA_10:3:3");
    EXPECT_EQ(entries(copy.r), (V{"a=1", "a=(null)", "b=2"}));
    Record dup(ekva_dup(rec.r));
    EXPECT_EQ(dup.header(), "#EKVA_10:10:3");
    EXPECT_EQ(entries(dup.r), entries(rec.r));
    EXPECT_NE(dup.r[1]->key, rec.r[1]->key);
    // The duplicate keeps working as a record.
    EXPECT_EQ(dup.add("c", "3", EKVA_MULTI), 5);
    EXPECT_EQ(ekva_dup(nullptr), nullptr);
}

// A long record built by appending matches, entry for entry, the same record
// built in the slow modes and read back by scanning.
TEST(EkvaAdd, FastAppendAgreesWithScanning) {
    Record fast(ekva_create_mode(1, EKVA_MULTI));
    for (int i = 0; i < 3000; ++i) {
        const std::string key = "k" + std::to_string(i % 7), value = std::to_string(i);
        ASSERT_EQ(fast.add(key.c_str(), value.c_str(), i % 3 == 0 ? EKVA_APPEND : EKVA_MULTI_ALT), i + 2);
        if (i % 500 == 0) {  // interleave scanning modes
            EXPECT_EQ(fast.add("k0", "x", EKVA_UNIQUE), i + 2);
        }
    }
    EXPECT_EQ(ekva_count(fast.r), 3000);
    EXPECT_EQ(fast.header(), "#EKVA_10:4096:3");
    EXPECT_STREQ(ekva_get_nth(fast.r, "k6", 0), "6");
    EXPECT_STREQ(ekva_get_nth(fast.r, "K2", 428), "2998");
    Record dup(ekva_dup(fast.r));
    EXPECT_EQ(dup.add("z", "z", EKVA_MULTI), 3002);
    EXPECT_STREQ(dup.r[3001]->value, "z");
}

class RecordAllocationFailure : public testing::Test {
protected:
    void TearDown() override { kestrin::mem::fail_allocations_after(-1); }
};

TEST_F(RecordAllocationFailure, AddLeavesTheRecordUnchanged) {
    for (int mode : {EKVA_APPEND, EKVA_REPLACE, EKVA_UNIQUE}) {
        for (long fail_after = 0; fail_after < 5; ++fail_after) {
            Record rec(ekva_create(2));
            rec.add("a", "1", EKVA_MULTI);
            rec.add("b", "2", EKVA_MULTI);  // full: the next add grows
            kestrin::mem::fail_allocations_after(fail_after);
            const int r = rec.add(mode == EKVA_APPEND ? "c" : "a", "3", mode);
            kestrin::mem::fail_allocations_after(-1);
            if (r == 0) {
                EXPECT_EQ(rec.header(), "#EKVA_10:2:2");
                EXPECT_EQ(entries(rec.r), (V{"a=1", "b=2"}));
            } else {
                EXPECT_EQ(rec.header(), "#EKVA_10:4:2");
            }
            EXPECT_EQ(rec.add("d", "4", EKVA_MULTI), r == 0 || mode != EKVA_APPEND ? 4 : 5);
        }
    }
}

TEST_F(RecordAllocationFailure, CreateCopyDupReturnNullWithoutLeaks) {
    Record rec(ekva_create(2));
    rec.add("a", "1", EKVA_MULTI);
    rec.add("b", nullptr, EKVA_MULTI);
    for (long fail_after = 0; fail_after < 10; ++fail_after) {
        kestrin::mem::fail_allocations_after(fail_after);
        Record c(ekva_create(3)), copy(ekva_copy(rec.r)), dup(ekva_dup(rec.r));
        char **values = ekva_get_values(rec.r, "a");
        kestrin::mem::fail_allocations_after(-1);
        if (copy.r) {
            EXPECT_EQ(entries(copy.r), entries(rec.r));
        }
        if (dup.r) {
            EXPECT_EQ(entries(dup.r), entries(rec.r));
        }
        strlist_free(values);
    }
}

}  // namespace
