#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "ekva/ekva.h"
#include "support.h"

namespace {

using V = std::vector<std::string>;

using testutil::entries;
using testutil::Record;
using testutil::take;

ekva_pair **record_of(const std::vector<std::pair<const char *, const char *>> &kv) {
    ekva_pair **r = ekva_create_mode(4, EKVA_MULTI);
    for (const auto &[k, v] : kv) ekva_add(&r, k, v, EKVA_MULTI);
    return r;
}

TEST(Listing, PrintAndFprint) {
    Record rec(record_of({{"cn", "a"}, {"description", nullptr}}));
    testing::internal::CaptureStdout();
    EXPECT_EQ(ekva_print(rec.r), 2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "cn: <a>\ndescription: NULL\n");
    char *mem = nullptr;
    size_t size = 0;
    FILE *f = open_memstream(&mem, &size);
    EXPECT_EQ(ekva_fprint(rec.r, f, 5), 2);
    std::fclose(f);
    EXPECT_EQ(std::string(mem, size), "cn   : <a>\ndescription: <NULL>\n");
    std::free(mem);
    EXPECT_EQ(ekva_print(nullptr), 0);
    EXPECT_EQ(ekva_fprint(nullptr, stdout, 3), 0);
}

TEST(Listing, WithoutHeaderStartsAtSlotZero) {
    auto **arr = static_cast<ekva_pair **>(std::calloc(2, sizeof(ekva_pair *)));
    arr[0] = static_cast<ekva_pair *>(std::malloc(sizeof(ekva_pair)));
    arr[0]->key = strdup("k");
    arr[0]->value = strdup("v");
    testing::internal::CaptureStdout();
    EXPECT_EQ(ekva_print(arr), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "k: <v>\n");
    EXPECT_EQ(take(ekva_to_kv_text(arr, ';')), "");  // slot 0 is always passed over here
    ekva_free(arr);
}

TEST(KvText, Writes) {
    Record rec(record_of({{"a", "1"}, {"b", nullptr}, {"c", "3"}}));
    EXPECT_EQ(take(ekva_to_kv_text(rec.r, ';')), "a=1;b=;c=3");
    Record empty(ekva_create(2));
    EXPECT_EQ(take(ekva_to_kv_text(empty.r, ';')), "");
    EXPECT_EQ(ekva_to_kv_text(nullptr, ';'), nullptr);
}

TEST(KvText, Reads) {
    Record rec(ekva_from_kv_text("a=1;;b = \"x y\";a=2;noequals; =v;", ';'));
    ASSERT_NE(rec.r, nullptr);
    EXPECT_EQ(entries(rec.r), (V{"a=1", "b=x y", "a=2"}));
    EXPECT_STREQ(rec.r[0]->key, "#EKVA_10:32:3");
    EXPECT_EQ(ekva_from_kv_text("", ';'), nullptr);
    EXPECT_EQ(ekva_from_kv_text(nullptr, ';'), nullptr);
}

TEST(KvText, RoundTrip) {
    std::mt19937 rng(12);
    const std::string key_chars = "abcXYZ_-.0";
    const std::string value_chars = "abc =/.\\0 ";
    for (int round = 0; round < 200; ++round) {
        Record rec(ekva_create_mode(1, EKVA_MULTI));
        const int n = 1 + static_cast<int>(rng() % 6);
        for (int i = 0; i < n; ++i) {
            std::string key(1 + rng() % 5, 'k'), value(rng() % 6, 'v');
            for (auto &c : key) c = key_chars[rng() % key_chars.size()];
            for (auto &c : value) c = value_chars[rng() % value_chars.size()];
            while (!value.empty() && value.front() == ' ') value.erase(0, 1);
            while (!value.empty() && value.back() == ' ') value.pop_back();
            ekva_add(&rec.r, key.c_str(), value.c_str(), EKVA_MULTI);
        }
        const std::string text = take(ekva_to_kv_text(rec.r, ';'));
        Record back(ekva_from_kv_text(text.c_str(), ';'));
        ASSERT_NE(back.r, nullptr) << text;
        EXPECT_EQ(entries(back.r), entries(rec.r)) << text;
    }
}

TEST(CsvLine, JoinsRepeatedKeysAndSkipsBinary) {
    Record rec(record_of({{"cn", "x"}, {"mail", "m1"}, {"mail", "m2"}, {"photo;binary", "AAAA"}, {"sn", "y"}}));
    EXPECT_EQ(take(ekva_to_csv_line(rec.r, ',', 0, 0)), "x,m1|m2,y");
    EXPECT_EQ(take(ekva_to_csv_line(rec.r, ',', 0, 1)), "cn,mail,mail,sn");
    EXPECT_EQ(take(ekva_to_csv_line(rec.r, ',', 1, 0)), "\"x\",\"m1|m2\",\"y\"");
}

TEST(CsvLine, EdgeCases) {
    Record binary_first(record_of({{"jpegPhoto;binary", "AAAA"}, {"cn", "a,b"}}));
    EXPECT_EQ(take(ekva_to_csv_line(binary_first.r, ',', 0, 0)), "\"a,b\"");
    Record nulls(record_of({{"a", nullptr}, {"b", "v"}}));
    EXPECT_EQ(take(ekva_to_csv_line(nulls.r, ';', 1, 0)), ";\"v\"");
    // A key whose entries are not adjacent gives a joined field at each group.
    Record split(record_of({{"m", "1"}, {"x", "2"}, {"M", "3"}}));
    EXPECT_EQ(take(ekva_to_csv_line(split.r, ',', 0, 0)), "1|3,2,1|3");
    Record empty(ekva_create(1));
    EXPECT_EQ(take(ekva_to_csv_line(empty.r, ',', 0, 0)), "");
    EXPECT_EQ(ekva_to_csv_line(nullptr, ',', 0, 0), nullptr);
}

}  // namespace
