#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "ldif/ldif.h"

namespace {

using V = std::vector<std::string>;
const char *kEntry = "dn: cn=a\ncn: a\nCN: b\nsn: c\n";

std::pair<int, std::string> get(const char *entry, const char *attr, int n) {
    char *value = reinterpret_cast<char *>(1);
    const int len = ldif_entry_get_attr(entry, 0, attr, &value, n);
    std::pair<int, std::string> r{len, value ? std::string(value, static_cast<size_t>(len)) : "(null)"};
    std::free(value);
    return r;
}

std::pair<int, V> values(const char *entry, const char *attr) {
    char **list = reinterpret_cast<char **>(1);
    const int n = ldif_entry_get_attr_values(entry, 0, attr, &list);
    V v;
    if (!list) v.push_back("(null)");
    for (char **p = list; p && *p; ++p) v.push_back(*p);
    strlist_free(list);
    return {n, v};
}

TEST(EntryQueries, Count) {
    EXPECT_EQ(ldif_entry_count_attr(kEntry, 0, "cn"), 2);
    EXPECT_EQ(ldif_entry_count_attr(kEntry, 0, "CN"), 2);
    EXPECT_EQ(ldif_entry_count_attr(kEntry, 0, "mail"), 0);
    EXPECT_EQ(ldif_entry_count_attr(kEntry, 0, "dn"), 1);
    EXPECT_EQ(ldif_entry_count_attr("cn;lang-en: x\ncert;binary: /nonexistent\n", 0, "cn"), 0);
}

TEST(EntryQueries, GetNth) {
    EXPECT_EQ(get(kEntry, "cn", 2), (std::pair<int, std::string>{1, "b"}));
    EXPECT_EQ(get(kEntry, "cn", 3), (std::pair<int, std::string>{0, "(null)"}));
    EXPECT_EQ(get(kEntry, "cn", 0), (std::pair<int, std::string>{0, "(null)"}));
    EXPECT_EQ(get(kEntry, "dn", 1), (std::pair<int, std::string>{4, "cn=a"}));
    EXPECT_EQ(get("dn: x\ndesc:\n", "desc", 1), (std::pair<int, std::string>{0, ""}));  // empty but present
    EXPECT_EQ(get("dn: x\nb:: AAEC\n", "b", 1), (std::pair<int, std::string>{3, std::string("\0\1\2", 3)}));
    EXPECT_EQ(get("dn: x\nb:: \nb:: AAEC\n", "b", 2), (std::pair<int, std::string>{3, std::string("\0\1\2", 3)}));
    EXPECT_EQ(get("dn: x\nb::\n", "b", 1), (std::pair<int, std::string>{0, ""}));  // the empty base64 value
}

TEST(EntryQueries, Values) {
    EXPECT_EQ(values(kEntry, "cn"), (std::pair<int, V>{2, {"a", "b"}}));
    EXPECT_EQ(values(kEntry, "dn"), (std::pair<int, V>{0, {"(null)"}}));
    EXPECT_EQ(values("dn: x\nDN: y\n", "dn"), (std::pair<int, V>{1, {"y"}}));  // only "dn" itself is never collected
    EXPECT_EQ(values("dn: x\nb:: AAEC\nb:: QUIA\n", "b"), (std::pair<int, V>{2, {"", "AB"}}));
}

TEST(EntryQueries, StopAtTheFirstBlankLine) {
    const char *two = "dn: a\ncn: 1\n\ndn: b\ncn: 2\n";
    EXPECT_EQ(ldif_entry_count_attr(two, 0, "cn"), 1);
    EXPECT_EQ(values(two, "cn"), (std::pair<int, V>{1, {"1"}}));
    EXPECT_EQ(get(two, "cn", 2).second, "(null)");
    // Lines before dn: and comments count too; a bad later line ends the walk.
    EXPECT_EQ(ldif_entry_count_attr("# x\ncn: 0\ndn: a\ncn: 1\nz:: !!\ncn: 2\n", 0, "cn"), 2);
    EXPECT_EQ(ldif_entry_count_attr("# x\n", 0, "#"), 1);
    // A blank line is never continued (into "y: 1"): what follows is past the end.
    EXPECT_EQ(ldif_entry_count_attr("dn: a\n\n y: 1\n", 0, "y"), 0);
    EXPECT_EQ(ldif_entry_count_attr("dn: a\r\n\r\n y: 1\n", 0, "y"), 0);
    // A CR LF blank line ends it too, as does a line of CRs only.
    EXPECT_EQ(ldif_entry_count_attr("dn: a\r\ncn: 1\r\n\r\ncn: 2\r\n", 0, "cn"), 1);
    EXPECT_EQ(ldif_entry_count_attr("dn: a\ncn: 1\n\r\r\ncn: 2\n", 0, "cn"), 1);
}

// A line with an empty name is not a blank line: the walk goes on past it,
// as ldif2ekva reads on past it.
TEST(EntryQueries, LinesWithAnEmptyNameArePassedOver) {
    const char *entry = "dn: a\n: x\ncn: b\n:: AAEC\n:\r\ncn: c\n";
    EXPECT_EQ(ldif_entry_count_attr(entry, 0, "cn"), 2);
    EXPECT_EQ(get(entry, "cn", 1), (std::pair<int, std::string>{1, "b"}));
    EXPECT_EQ(get(entry, "cn", 2), (std::pair<int, std::string>{1, "c"}));
    EXPECT_EQ(values(entry, "cn"), (std::pair<int, V>{2, {"b", "c"}}));
    EXPECT_EQ(ldif_entry_count_attr(entry, 0, ""), 0);  // nameless lines never match
    EXPECT_EQ(ldif_entry_count_attr(": x\ncn: b\n", 0, "cn"), 1);
}

TEST(EntryQueries, MessagesForAnUnparsableStart) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(ldif_entry_count_attr("", 0, "cn"), 0);
    EXPECT_EQ(get("", "cn", 1).first, 0);
    EXPECT_EQ(values("dn:: !!!!\n", "cn").first, 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "ldif_entry_count_attr: failed to parse ldif buffer\n"
              "ldif_entry_get_attr: failed to parse ldif buffer\n"
              "ldif_entry_get_attr: failed to parse ldif buffer\n");
}

TEST(EntryQueries, ManyValuesInOrder) {
    std::string entry = "dn: cn=g\n";
    V want;
    for (int i = 0; i < 300; ++i) {
        want.push_back("uid=" + std::to_string(i));
        entry += "member: " + want.back() + "\n";
    }
    EXPECT_EQ(values(entry.c_str(), "member"), (std::pair<int, V>{300, want}));
    EXPECT_EQ(get(entry.c_str(), "member", 300).second, "uid=299");
}

}  // namespace
