// One array made by hand, slot 0 holding an ordinary entry, through every
// operation that walks a record: each sees slot 0 by its own rule.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ekva/ekva.h"
#include "ldif/ldif.h"
#include "support.h"

namespace {

using V = std::vector<std::string>;

ekva_pair *pair_of(const char *key, const char *value) {
    auto *p = static_cast<ekva_pair *>(std::malloc(sizeof(ekva_pair)));
    p->key = strdup(key);
    p->value = value ? strdup(value) : nullptr;
    return p;
}

// The entries in `slots` slots (room left over stays NULL), as a caller
// would build them without ekva_create.
ekva_pair **hand_made(const std::vector<std::pair<const char *, const char *>> &entries, size_t slots) {
    auto **arr = static_cast<ekva_pair **>(std::calloc(slots, sizeof(ekva_pair *)));
    for (size_t i = 0; i < entries.size(); ++i) arr[i] = pair_of(entries[i].first, entries[i].second);
    return arr;
}

using Array = testutil::Record;
using testutil::slots;
using testutil::take;

std::string fprinted(ekva_pair **r, int *listed) {
    char *mem = nullptr;
    size_t size = 0;
    FILE *f = open_memstream(&mem, &size);
    *listed = ekva_fprint(r, f, 4);
    std::fclose(f);
    std::string s(mem, size);
    std::free(mem);
    return s;
}

// Slot 0 "dn" is seen by some operations and passed over by others; "mail"
// appears only in slot 0.
constexpr std::pair<const char *, const char *> kZero{"dn", "cn=zero"};

TEST(HandMadeArray, EachOperationSeesSlotZeroByItsRule) {
    Array arr(hand_made({kZero, {"cn", "one"}, {"MAIL", nullptr}}, 6));

    // Counted, listed and written as a delimited line from slot 0.
    EXPECT_EQ(ekva_count(arr.r), 3);
    testing::internal::CaptureStdout();
    EXPECT_EQ(ekva_print(arr.r), 3);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "dn: <cn=zero>\ncn: <one>\nMAIL: NULL\n");
    int listed = 0;
    EXPECT_EQ(fprinted(arr.r, &listed), "dn  : <cn=zero>\ncn  : <one>\nMAIL: <NULL>\n");
    EXPECT_EQ(listed, 3);
    EXPECT_EQ(take(ekva_to_csv_line(arr.r, ',', 0, 0)), "cn=zero,one,");
    EXPECT_EQ(take(ekva_to_csv_line(arr.r, ',', 0, 1)), "dn,cn,MAIL");

    // Looked up by key from slot 0.
    EXPECT_EQ(ekva_count_key(arr.r, "DN"), 1);
    EXPECT_STREQ(ekva_get(arr.r, "dn"), "cn=zero");
    EXPECT_STREQ(ekva_get_nth(arr.r, "Dn", 0), "cn=zero");
    char **values = ekva_get_values(arr.r, "dn");
    EXPECT_EQ(testutil::to_vector(values), (V{"cn=zero"}));
    strlist_free(values);

    // Passed over: the value lookup, the key=value text and the LDIF text
    // (whose dn still comes from ekva_get, so slot 0 is written as the dn).
    EXPECT_EQ(ekva_get_key(arr.r, "cn=zero"), nullptr);
    EXPECT_STREQ(ekva_get_key(arr.r, "ONE"), "cn");
    EXPECT_EQ(take(ekva_to_kv_text(arr.r, ';')), "cn=one;MAIL=");
    EXPECT_EQ(take(ekva2ldif(arr.r)), "dn: cn=zero\ncn: one\n");

    // No header: no copy; the duplicate copies every slot.
    EXPECT_EQ(ekva_copy(arr.r), nullptr);
    Array dup(ekva_dup(arr.r));
    ASSERT_NE(dup.r, nullptr);
    EXPECT_EQ(slots(dup.r), (V{"dn=cn=zero", "cn=one", "MAIL=(null)"}));

    // Added to in place: slot 0 is matched, the array is filled, never grown.
    EXPECT_EQ(ekva_add(&arr.r, "DN", "other", EKVA_UNIQUE), 3);
    EXPECT_EQ(ekva_add(&arr.r, "dn", "cn=new", EKVA_REPLACE), 3);
    EXPECT_EQ(ekva_add(&arr.r, "sn", "two", EKVA_MULTI), 4);
    EXPECT_EQ(slots(arr.r), (V{"dn=cn=new", "cn=one", "MAIL=(null)", "sn=two"}));
}

TEST(HandMadeArray, SetOperationsPassOverSlotZeroButSortByIt) {
    // A set of hand-made records, itself made by hand.
    auto ***set = static_cast<ekva_pair ***>(std::calloc(3, sizeof(ekva_pair **)));
    set[0] = hand_made({{"cn", "b"}, {"cn", "a"}}, 3);
    set[1] = hand_made({{"cn", "a"}, {"cn", "b"}}, 3);

    EXPECT_EQ(ekva_set_count(set, "cn", nullptr), 2);
    EXPECT_EQ(ekva_set_count(set, "cn", "a"), 1);
    EXPECT_EQ(ekva_set_find(set, "cn", "a"), set[0]);
    EXPECT_EQ(ekva_set_find(set, "cn", "b"), set[1]);
    EXPECT_EQ(ekva_set_find_nth(set, "cn", "b", 1), nullptr);

    // The sort key is the first value by ekva_get: slot 0's.
    ekva_pair **first = set[0];
    ekva_set_sort(&set, "cn");
    EXPECT_EQ(set[1], first);
    EXPECT_STREQ(ekva_get(set[0], "cn"), "a");

    // A pushed hand-made record copies to NULL, which is not stored.
    int count = 2, capacity = 2;  // three slots: two records and the NULL
    Array arr(hand_made({{"cn", "c"}, {"sn", "d"}}, 3));
    EXPECT_EQ(ekva_set_push(&set, arr.r, count, &capacity), 2);
    EXPECT_EQ(capacity, 2);
    EXPECT_EQ(set[2], nullptr);
    ekva_set_free(set);
}

TEST(HandMadeArray, EmptyArrayHasNoEntriesForAnyRule) {
    Array arr(hand_made({}, 3));
    EXPECT_EQ(ekva_count(arr.r), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(ekva_print(arr.r), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(take(ekva_to_csv_line(arr.r, ',', 0, 0)), "");
    EXPECT_EQ(take(ekva_to_kv_text(arr.r, ';')), "");
    EXPECT_EQ(take(ekva2ldif(arr.r)), "");
    EXPECT_EQ(ekva_get_key(arr.r, "x"), nullptr);
    EXPECT_EQ(ekva_get(arr.r, "x"), nullptr);
    auto ***set = static_cast<ekva_pair ***>(std::calloc(2, sizeof(ekva_pair **)));
    set[0] = arr.r;
    EXPECT_EQ(ekva_set_count(set, "x", nullptr), 0);
    std::free(set);
    EXPECT_EQ(ekva_add(&arr.r, "k", "v", EKVA_MULTI), 1);
    EXPECT_EQ(slots(arr.r), (V{"k=v"}));
}

}  // namespace
