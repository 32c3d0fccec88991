#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "codec/base64.h"
#include "ldif/ldif.h"
#include "support.h"
#include "util/alloc_internal.h"

namespace {

using V = std::vector<std::string>;

using testutil::bytes_read_by_process;
using testutil::Record;
constexpr auto &pairs = testutil::entries;

std::string b64(const std::string &bytes) {
    std::string out(base64_encoded_size(bytes.size()) + 1, '\0');
    out.resize(static_cast<size_t>(base64_encode(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(),
                                                 out.data(), out.size())));
    return out;
}

struct Set : testutil::Set {
    V dns() const { return column("dn", "-"); }
};

class ConvertFiles : public testutil::TempDirTest {
protected:
    void TearDown() override { kestrin::mem::fail_allocations_after(-1); }
};

TEST(Ldif2Ekva, OnePairPerLine) {
    Record rec(ldif2ekva("dn: cn=a\ncn: a\nmail: x\nmail: y\n# note\n\ncn:: YWJj\ndn: second\n", 0));
    ASSERT_NE(rec.r, nullptr);
    EXPECT_STREQ(rec.r[0]->key, "#EKVA_10:50:3");
    EXPECT_EQ(pairs(rec.r), (V{"dn=cn=a", "cn=a", "mail=x", "mail=y", "#=#", "cn;binary=YWJj", "dn=second"}));
}

// A base64 value is stored as the encoding of its bytes, whatever form it
// was written in; a value the decoder refuses ends the record there.
struct Base64Form {
    const char *written;
    const char *stored;  // nullptr: the line is refused
};

class Ldif2EkvaBase64 : public testing::TestWithParam<Base64Form> {};

TEST_P(Ldif2EkvaBase64, StoresTheEncodingOfTheBytes) {
    const std::string text = std::string("dn: a\nphoto:: ") + GetParam().written + "\ncn: b\n";
    const V want = GetParam().stored ? V{"dn=a", std::string("photo;binary=") + GetParam().stored, "cn=b"} : V{"dn=a"};
    Record rec(ldif2ekva(text.c_str(), 0));
    ASSERT_NE(rec.r, nullptr);
    EXPECT_EQ(pairs(rec.r), want);
    Set set;
    ASSERT_EQ(ldif2ekva_set(&set.s, text.c_str(), nullptr), 1);
    EXPECT_EQ(pairs(set.s[0]), want);
}

INSTANTIATE_TEST_SUITE_P(Forms, Ldif2EkvaBase64,
                         testing::Values(Base64Form{"YWJj", "YWJj"}, Base64Form{"YWI=", "YWI="},
                                         Base64Form{"YQ==", "YQ=="}, Base64Form{"YWJj\n ZA==", "YWJjZA=="},
                                         Base64Form{"YWJj ZA==", "YWJjZA=="}, Base64Form{"YWJjZA== ", "YWJjZA=="},
                                         Base64Form{"YR==", nullptr}, Base64Form{"YWJ=", nullptr},
                                         Base64Form{"YW=j", nullptr}, Base64Form{"YW*j", nullptr},
                                         Base64Form{"YWJjZ", nullptr}));

TEST(Ldif2Ekva, LargeEntriesGrowLikeEkvaAdd) {
    std::string text = "dn: cn=big\n";
    for (int i = 1; i < 120; ++i) text += "member: m" + std::to_string(i) + "\n";
    Record rec(ldif2ekva(text.c_str(), 0));
    ASSERT_NE(rec.r, nullptr);
    EXPECT_STREQ(rec.r[0]->key, "#EKVA_10:200:3");
    EXPECT_EQ(ekva_count(rec.r), 120);
    EXPECT_EQ(ekva_add(&rec.r, "x", "y", EKVA_MULTI), 122);
    EXPECT_STREQ(ekva_get_nth(rec.r, "member", 118), "m119");
}

TEST(Ldif2Ekva, FailedFirstLineIsReported) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(ldif2ekva("", 0), nullptr);
    EXPECT_EQ(ldif2ekva("dn:: !!!!\ncn: a\n", 0), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "ldif2ekva: failed to parse ldif buffer\nldif2ekva: failed to parse ldif buffer\n");
    testing::internal::CaptureStderr();
    Record rec(ldif2ekva("dn: a\ncn: b\nx:: !!!!\nsn: lost\n", 0));  // a later bad line ends quietly
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(pairs(rec.r), (V{"dn=a", "cn=b"}));
}

// An empty base64 value gives no pair, and the lines after it are read.
TEST(Ldif2Ekva, EmptyBase64ValueGivesNoPair) {
    Record rec(ldif2ekva("dn: a\nphoto:: \ncn: b\nphoto::\nsn: c\n", 0));
    EXPECT_EQ(pairs(rec.r), (V{"dn=a", "cn=b", "sn=c"}));
    // What ekva2ldif writes for an empty binary value reads back the same way.
    Record empty(ekva_create_mode(3, EKVA_MULTI));
    ekva_add(&empty.r, "dn", "x", EKVA_MULTI);
    ekva_add(&empty.r, "photo;binary", "", EKVA_MULTI);
    ekva_add(&empty.r, "cn", "y", EKVA_MULTI);
    char *text = ekva2ldif(empty.r);
    EXPECT_STREQ(text, "dn: x\nphoto:: \ncn: y\n");
    Record back(ldif2ekva(text, 0));
    std::free(text);
    EXPECT_EQ(pairs(back.r), (V{"dn=x", "cn=y"}));
}

TEST_F(ConvertFiles, FileValuesBecomeBinaryPairs) {
    const std::string abc = file("abc", "abc"), empty = file("empty", "");
    Record rec(ldif2ekva(("dn: a\nphoto:< file://" + abc + "\nnone:< " + empty + "\nmissing:< " + dir +
                          "/nope\ncert;binary: " + abc + "\n")
                             .c_str(),
                         0));
    EXPECT_EQ(pairs(rec.r), (V{"dn=a", "photo;binary=YWJj", "cert;binary;binary=YWJj"}));
}

TEST(Ldif2Ekva, LongBinaryKeysAreWhole) {
    const std::string name(3000, 'k');
    Record rec(ldif2ekva(("dn: a\n" + name + ":: YWJj\n").c_str(), 0));
    ASSERT_EQ(pairs(rec.r).size(), 2u);
    EXPECT_EQ(std::string(rec.r[2]->key), name + ";binary");
}

const char *kThree =
    "version: 1\n\n"
    "dn: cn=p\nobjectClass: person\ncn: p\n\n"
    "dn: cn=g\nobjectclass: group\nobjectClass: person\n\n"
    "dn: cn=n\ncn: n\n";

TEST(Ldif2EkvaSet, FilterOnTheFirstObjectClass) {
    Set all, people;
    EXPECT_EQ(ldif2ekva_set(&all.s, kThree, nullptr), 3);
    EXPECT_EQ(all.dns(), (V{"cn=p", "cn=g", "cn=n"}));
    EXPECT_EQ(ldif2ekva_set(&people.s, kThree, "person"), 2);
    EXPECT_EQ(people.dns(), (V{"cn=p", "cn=n"}));
    Set none;
    EXPECT_EQ(ldif2ekva_set(&none.s, "version: 1\n# nothing\n", nullptr), 0);
    EXPECT_EQ(none.s, nullptr);
    Set base64_class;
    EXPECT_EQ(ldif2ekva_set(&base64_class.s, "dn: a\nobjectClass:: Z3JvdXA=\n", "person"), 1);
}

TEST(Ldif2EkvaSet, ManyEntriesGrowTheSet) {
    std::string text;
    for (int i = 0; i < 120; ++i) text += "dn: cn=" + std::to_string(i) + "\n\n";
    Set set;
    EXPECT_EQ(ldif2ekva_set(&set.s, text.c_str(), nullptr), 120);
    EXPECT_EQ(set.dns()[119], "cn=119");
}

TEST(Ldif2EkvaSet, AppendFollowsExistingRecords) {
    Set set;
    int capacity = 2;
    int count = ldif2ekva_set_append(&set.s, "dn: a\n\ndn: b\n", nullptr, 0, &capacity);
    EXPECT_EQ(count, 2);
    count = ldif2ekva_set_append(&set.s, kThree, "person", count, &capacity);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(capacity, 4);
    EXPECT_EQ(set.dns(), (V{"a", "b", "cn=p", "cn=n"}));
}

TEST_F(ConvertFiles, FileLoaders) {
    const std::string path = file("three.ldif", kThree);
    Set set;
    EXPECT_EQ(ldif_file2ekva_set(&set.s, path.c_str(), "person"), 2);
    Set appended;
    int capacity = 1;
    EXPECT_EQ(ldif_file2ekva_set_append(&appended.s, path.c_str(), nullptr, 0, &capacity), 3);
    EXPECT_EQ(capacity, 4);
    Set missing;
    EXPECT_EQ(ldif_file2ekva_set(&missing.s, (dir + "/nope").c_str(), nullptr), 0);
    EXPECT_EQ(missing.s, nullptr);
    int cap = 4;
    EXPECT_EQ(ldif_file2ekva_set_append(&missing.s, dir.c_str(), nullptr, 7, &cap), 7);
}

// Each record as its pairs.
std::vector<V> records(ekva_pair ***set) {
    std::vector<V> out;
    for (ekva_pair ***r = set; r && *r; ++r) out.push_back(pairs(*r));
    return out;
}

// What the set loaders are defined to give: each entry ldif_next_entry cuts,
// converted by ldif2ekva, kept when it yields a pair and passes the filter.
std::vector<V> entry_by_entry(const std::string &text, const char *class_name) {
    std::vector<V> out;
    for (const char *cursor = text.c_str(); cursor && *cursor;) {
        char *entry = nullptr;
        int len = 0;
        cursor = ldif_next_entry(cursor, 0, &entry, &len);
        if (!entry) continue;
        ekva_pair **record = ldif2ekva(entry, len);
        std::free(entry);
        const char *first_class = record ? ekva_get(record, "objectClass") : nullptr;
        if (record && ekva_count(record) > 0 && (!class_name || !first_class || std::strcmp(first_class, class_name) == 0))
            out.push_back(pairs(record));
        ekva_free(record);
    }
    return out;
}

std::string escaped(const std::string &text) {
    std::string out;
    for (char c : text) out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : std::string(1, c);
    return out;
}

// Lines of generated texts: entry starts, every line form, comments, lines
// with an empty name, blank lines, folds (also after blank lines and after
// lines of CRs only), and lines that cannot be parsed.
const char *const kLinePieces[] = {
    "dn: cn=a", "dn: b", "dn:", "DN: c", "d", " n: folded", "cn: x", "cn:: YWJj", "cn:: !!!!", "dn:: !!!!",
    "objectClass: person", "objectClass: group", ": nameless", "# note", "", "", "", "\r", "\r\r", " y", "  y",
    " ", " : z", "-", "version: 1", "sn:x", "cn: a\rb", "x\r", "dn:: ", "dn::", "photo:: ", "photo::",
    "dn:< file:///nonexistent/kestrin", "dn;binary: /nonexistent/kestrin"};

std::string generated_text(std::mt19937 &rng) {
    std::string text;
    const int lines = static_cast<int>(rng() % 24);
    for (int i = 0; i < lines; ++i) {
        text += kLinePieces[rng() % std::size(kLinePieces)];
        if (i + 1 < lines || rng() % 2) text += rng() % 4 ? "\n" : "\r\n";
    }
    return text;
}

// Every loader gives, for any text, exactly the records its entries give one
// by one (ldif_next_entry, then ldif2ekva), with the same messages; so the
// entry text ldif_next_entry delivers means what the source means.
TEST_F(ConvertFiles, LoadersAgreeWithEntryByEntry) {
    std::mt19937 rng(2849);
    const std::string path = dir + "/generated.ldif";
    for (int round = 0; round < 2000; ++round) {
        const std::string text = generated_text(rng);
        const char *class_name = round % 3 ? nullptr : "person";
        testing::internal::CaptureStderr();
        const std::vector<V> want = entry_by_entry(text, class_name);
        const std::string want_messages = testing::internal::GetCapturedStderr();
        file("generated.ldif", text);

        Set fresh, from_file, appended, file_appended;
        int capacity = 1, file_capacity = 1;
        testing::internal::CaptureStderr();
        const int n = ldif2ekva_set(&fresh.s, text.c_str(), class_name);
        const int from_file_n = ldif_file2ekva_set(&from_file.s, path.c_str(), class_name);
        int appended_n = ldif2ekva_set_append(&appended.s, "dn: first\n", nullptr, 0, &capacity);
        appended_n = ldif2ekva_set_append(&appended.s, text.c_str(), class_name, appended_n, &capacity);
        int file_appended_n = ldif2ekva_set_append(&file_appended.s, "dn: first\n", nullptr, 0, &file_capacity);
        file_appended_n =
            ldif_file2ekva_set_append(&file_appended.s, path.c_str(), class_name, file_appended_n, &file_capacity);
        const std::string messages = testing::internal::GetCapturedStderr();

        std::vector<V> with_first{V{"dn=first"}};
        with_first.insert(with_first.end(), want.begin(), want.end());
        ASSERT_EQ(records(fresh.s), want) << escaped(text);
        ASSERT_EQ(n, static_cast<int>(want.size())) << escaped(text);
        ASSERT_EQ(records(from_file.s), want) << escaped(text);
        ASSERT_EQ(from_file_n, n) << escaped(text);
        ASSERT_EQ(records(appended.s), with_first) << escaped(text);
        ASSERT_EQ(appended_n, n + 1) << escaped(text);
        ASSERT_EQ(records(file_appended.s), with_first) << escaped(text);
        ASSERT_EQ(file_appended_n, n + 1) << escaped(text);
        ASSERT_EQ(messages, want_messages + want_messages + want_messages + want_messages) << escaped(text);
    }
}

// A blank line is never continued: a following line that begins with a space
// is a line of its own, here junk before the next dn: line.
TEST(Ldif2EkvaSet, ALineAfterABlankLineIsNoFold) {
    const char *text = "dn: a\nc: x\n\n  y\n";
    Set set;
    EXPECT_EQ(ldif2ekva_set(&set.s, text, nullptr), 1);
    EXPECT_EQ(records(set.s), (std::vector<V>{{"dn=a", "c=x"}}));
    EXPECT_EQ(entry_by_entry(text, nullptr), (std::vector<V>{{"dn=a", "c=x"}}));
}

// An entry that yields no pair is left out by both loaders, which agree on
// the count, and every record stored stays within reach of the set operations.
TEST(Ldif2EkvaSet, EntriesWithoutPairsAreLeftOut) {
    const char *text = "dn: a\n\ndn:: \n\ndn:< file:///nonexistent/kestrin\nphoto::\n\ndn: b\ncn: x\n";
    Set fresh;
    EXPECT_EQ(ldif2ekva_set(&fresh.s, text, nullptr), 2);
    EXPECT_EQ(fresh.dns(), (V{"a", "b"}));
    Set appended;
    int capacity = 1;
    int count = ldif2ekva_set_append(&appended.s, text, nullptr, 0, &capacity);
    EXPECT_EQ(count, 2);
    count = ldif2ekva_set_append(&appended.s, "dn:: \n\ndn: c\n", nullptr, count, &capacity);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(appended.dns(), (V{"a", "b", "c"}));
    EXPECT_EQ(ekva_set_count(appended.s, "dn", nullptr), 3);
    EXPECT_NE(ekva_set_find(appended.s, "dn", "c"), nullptr);
    Set none;
    EXPECT_EQ(ldif2ekva_set(&none.s, "dn:: \n", nullptr), 0);
    EXPECT_EQ(none.s, nullptr);
}

// The root DSE and other entries with an empty name are written "dn:", and
// the "dn:" that starts an entry ignores letter case: every reader starts an
// entry there.
TEST_F(ConvertFiles, AnEmptyDnAndADnInAnyCaseStartEntries) {
    const std::string text = "dn:\nvendorName: x\n\nDN: cn=a\ncn: a\n\nDn:cn=b\n\ndN:\n";
    const std::vector<V> want = {{"dn=", "vendorName=x"}, {"DN=cn=a", "cn=a"}, {"Dn=cn=b"}, {"dN="}};
    Set set;
    EXPECT_EQ(ldif2ekva_set(&set.s, text.c_str(), nullptr), 4);
    EXPECT_EQ(records(set.s), want);
    EXPECT_EQ(entry_by_entry(text, nullptr), want);
    Set from_file;
    EXPECT_EQ(ldif_file2ekva_set(&from_file.s, file("root.ldif", text).c_str(), nullptr), 4);
    EXPECT_EQ(records(from_file.s), want);
    // The stream reader cuts the same entries.
    FILE *stream = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
    ASSERT_NE(stream, nullptr);
    std::vector<std::string> entries;
    while (char *entry = ldif_read_entry(stream)) {
        entries.emplace_back(entry);
        std::free(entry);
    }
    std::fclose(stream);
    EXPECT_EQ(entries, (V{"dn:\nvendorName: x\n", "DN: cn=a\ncn: a\n", "Dn:cn=b\n", "dN:\n"}));
    // "dnx:" and "d:" start nothing.
    Set none;
    EXPECT_EQ(ldif2ekva_set(&none.s, "dnx: a\ncn: b\n\nd: c\n", nullptr), 0);
}

// The fill after the marker is any number of spaces, and nothing else, in
// the one-pass reading of plain lines, the general parser (CRs, folds), the
// set loaders and the entry queries alike.
TEST(Ldif2Ekva, TheFillIsEverySpaceAfterTheMarker) {
    const V want = {"dn=cn=a", "cn=foo", "givenName=Test", "sn=\t x", "title=", "o=", "photo;binary=AAEC"};
    for (const std::string eol : {"\n", "\r\n"}) {
        const std::string text = "dn:cn=a" + eol + "cn:foo" + eol + "givenName:  Test" + eol + "sn:\t x" + eol +
                                 "title:" + eol + "o:    " + eol + "photo::   AAEC" + eol;
        Record rec(ldif2ekva(text.c_str(), 0));
        EXPECT_EQ(pairs(rec.r), want) << eol.size();
        Set set;
        EXPECT_EQ(ldif2ekva_set(&set.s, text.c_str(), nullptr), 1);
        EXPECT_EQ(records(set.s), std::vector<V>{want});
        char *value = nullptr;
        EXPECT_EQ(ldif_entry_get_attr(text.c_str(), 0, "givenName", &value, 1), 4);
        EXPECT_STREQ(value, "Test");
        std::free(value);
    }
    Record folded(ldif2ekva("dn: a\ncn:\n   x\n", 0));
    EXPECT_EQ(pairs(folded.r), (V{"dn=a", "cn=x"}));
}

// Read by ldif2ekva and written back by ekva2ldif, every attribute
// description stays as written, and so does a modify record with its "-"
// separator lines.
class LdifRoundTrip : public testing::TestWithParam<const char *> {};

TEST_P(LdifRoundTrip, KeepsTheTextAsWritten) {
    Record rec(ldif2ekva(GetParam(), 0));
    ASSERT_NE(rec.r, nullptr);
    char *text = ekva2ldif(rec.r);
    EXPECT_STREQ(text, GetParam());
    std::free(text);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, LdifRoundTrip,
    testing::Values("dn: cn=a\ncn;lang-de:: w4Q=\n",
                    "dn: cn=a\nuserCertificate;binary:: MIIBAA==\n",
                    "dn: cn=a\nphoto:: AAEC\nphoto;binary:: AAEC\n",
                    "dn: cn=a\ndescription;lang-de;x-other: hallo\ndescription;lang-de:: w6TDtsO8\n",
                    "dn: cn=a\nx;BINARY:: AAEC\n",
                    "dn: \nvendorName: x\n",  // the writer's form of an empty dn
                    "dn: cn=a,dc=example\nchangetype: modify\nreplace: description\ndescription: new\n-\n"
                    "add: mail\nmail: a@example.org\nmail: b@example.org\n-\ndelete: cn\ncn: old\n-\n"
                    "delete: telephoneNumber\n-\n"));

TEST(Ekva2Ldif, OnlyAnEmptyDashIsASeparatorLine) {
    Record rec(ekva_create_mode(4, EKVA_MULTI));
    ekva_add(&rec.r, "dn", "cn=a", EKVA_MULTI);
    ekva_add(&rec.r, "-", "", EKVA_MULTI);
    ekva_add(&rec.r, "-", "x", EKVA_MULTI);
    ekva_add(&rec.r, "--", "", EKVA_MULTI);
    char *text = ekva2ldif(rec.r);
    EXPECT_STREQ(text, "dn: cn=a\n-\n-: x\n--: \n");
    std::free(text);
}

// Entries enough to span several of the pieces a file is read in, with
// blank lines followed by a blank and CR LF blank lines between them.
std::string many_entries(int first, int n) {
    std::string text;
    const std::string filler(700, 'f');
    for (int i = first; i < first + n; ++i) {
        text += "dn: cn=" + std::to_string(i) + ",dc=example\ndescription: " + filler + "\n";
        text += i % 3 == 0 ? "\n  junk\n" : i % 3 == 1 ? "\r\n" : "\n";
    }
    return text;
}

// The file loaders give what ldif2ekva_set gives over the file's text, also
// across the pieces the file is read in.
TEST_F(ConvertFiles, FileLoadersAgreeWithTheTextLoaderOverManyPieces) {
    const std::string text = many_entries(0, 18000);
    ASSERT_GT(text.size(), 3u * (4u << 20));
    const std::string path = file("many.ldif", text);
    Set from_text, from_file;
    EXPECT_EQ(ldif2ekva_set(&from_text.s, text.c_str(), nullptr), 18000);
    EXPECT_EQ(ldif_file2ekva_set(&from_file.s, path.c_str(), nullptr), 18000);
    EXPECT_EQ(from_file.dns(), from_text.dns());
}

// A file's text ends at its first NUL byte, as a text in memory does.
TEST_F(ConvertFiles, FileLoadersStopAtTheFirstNul) {
    const std::string text = many_entries(0, 10) + std::string(1, '\0') + many_entries(10, 18000);
    ASSERT_GT(text.size(), 3u * (4u << 20));
    const std::string path = file("nul.ldif", text);
    Set from_text, from_file, appended;
    EXPECT_EQ(ldif2ekva_set(&from_text.s, text.c_str(), nullptr), 10);
    EXPECT_EQ(ldif_file2ekva_set(&from_file.s, path.c_str(), nullptr), 10);
    EXPECT_EQ(from_file.dns(), from_text.dns());
    int capacity = 4;
    EXPECT_EQ(ldif_file2ekva_set_append(&appended.s, path.c_str(), nullptr, 0, &capacity), 10);
    EXPECT_EQ(appended.dns(), from_text.dns());
}

// A 2 GiB file whose text ends after three entries (the rest a hole of NULs)
// loads them at once, reading no more than its first piece.
TEST_F(ConvertFiles, FileLoadersReadNothingAfterTheFirstNul) {
    const std::string path = file("sparse.ldif", "dn: a\n\ndn: b\n\ndn: c\n");
    ASSERT_EQ(truncate(path.c_str(), 2L << 30), 0);
    const long before = bytes_read_by_process();
    ASSERT_GE(before, 0);
    Set set, appended;
    EXPECT_EQ(ldif_file2ekva_set(&set.s, path.c_str(), nullptr), 3);
    EXPECT_EQ(set.dns(), (V{"a", "b", "c"}));
    int capacity = 1;
    EXPECT_EQ(ldif_file2ekva_set_append(&appended.s, path.c_str(), nullptr, 0, &capacity), 3);
    EXPECT_LT(bytes_read_by_process() - before, 2L * (4 << 20) + 4096);
}

TEST(Ekva2Ldif, DnFirstThenRecordOrder) {
    Record rec(ekva_create_mode(4, EKVA_MULTI));
    ekva_add(&rec.r, "cn", "a", EKVA_MULTI);
    ekva_add(&rec.r, "desc", nullptr, EKVA_MULTI);
    ekva_add(&rec.r, "DN", "x", EKVA_MULTI);
    ekva_add(&rec.r, "cn", "b", EKVA_MULTI);
    ekva_add(&rec.r, "jpegPhoto;binary", "/9j/4AAQ", EKVA_MULTI);
    char *text = ekva2ldif(rec.r);
    EXPECT_STREQ(text, "dn: x\ncn: a\ncn: b\njpegPhoto:: /9j/4AAQ\n");
    std::free(text);
    EXPECT_EQ(ekva2ldif(nullptr), nullptr);
}

TEST(Ekva2Ldif, Utf8DnRawOtherKeysBase64) {
    Record rec(ekva_create(2));
    ekva_add(&rec.r, "dn", "cn=J\xc3\xa9r\xc3\xb4me", EKVA_MULTI);
    ekva_add(&rec.r, "cn", "J\xc3\xa9r\xc3\xb4me", EKVA_MULTI);
    char *text = ekva2ldif(rec.r);
    EXPECT_STREQ(text, "dn: cn=J\xc3\xa9r\xc3\xb4me\ncn:: SsOpcsO0bWU=\n");
    std::free(text);
}

TEST(Ekva2Ldif, WithoutDnAndWithRefusedKeys) {
    Record rec(ekva_create(2));
    ekva_add(&rec.r, "cn", "a", EKVA_MULTI);
    ekva_add(&rec.r, "bad:key", "v", EKVA_MULTI);  // the writer refuses it: left out
    ekva_add(&rec.r, "#cn", "v", EKVA_MULTI);      // would read back as a comment: left out
    ekva_add(&rec.r, "sn", "b", EKVA_MULTI);
    char *text = ekva2ldif(rec.r);
    EXPECT_STREQ(text, "cn: a\nsn: b\n");
    std::free(text);
    Record only(ekva_create(1));
    ekva_add(&only.r, "dn", "x", EKVA_MULTI);
    text = ekva2ldif(only.r);
    EXPECT_STREQ(text, "dn: x\n");
    std::free(text);
}

TEST(Ekva2Ldif, LargeRecords) {
    Record rec(ekva_create(2));
    ekva_add(&rec.r, "dn", "cn=big", EKVA_MULTI);
    for (int i = 0; i < 500; ++i) ekva_add(&rec.r, "member", ("uid=user" + std::to_string(i) + ",ou=people,dc=example").c_str(), EKVA_MULTI);
    char *text = ekva2ldif(rec.r);
    ASSERT_NE(text, nullptr);
    EXPECT_GT(std::strlen(text), 8192u);
    Record back(ldif2ekva(text, 0));
    EXPECT_EQ(pairs(back.r), pairs(rec.r));
    std::free(text);
}

// What ekva2ldif writes, ldif2ekva reads back to the same pairs: plain safe
// values, and binary values kept as base64 under ";binary" keys.
TEST(RoundTrip, RecordToLdifToRecord) {
    std::mt19937 rng(21);
    for (int round = 0; round < 200; ++round) {
        Record rec(ekva_create_mode(3, EKVA_MULTI));
        ekva_add(&rec.r, "dn", ("cn=r" + std::to_string(round) + ",dc=example").c_str(), EKVA_MULTI);
        const int n = 1 + static_cast<int>(rng() % 8);
        for (int i = 0; i < n; ++i) {
            if (rng() % 3 == 0) {
                std::string bytes(1 + rng() % 300, '\0');
                for (auto &c : bytes) c = static_cast<char>(rng());
                ekva_add(&rec.r, "photo;binary", b64(bytes).c_str(), EKVA_MULTI);
            } else {
                std::string value(rng() % 200, 'x');
                for (auto &c : value) c = "abc XYZ:<=,;0123"[rng() % 16];
                if (!value.empty() && (value[0] == ' ' || value[0] == ':' || value[0] == '<')) value[0] = 'v';
                if (!value.empty() && value.back() == ' ') value.back() = 'v';
                ekva_add(&rec.r, i % 2 ? "description" : "cn", value.c_str(), EKVA_MULTI);
            }
        }
        char *text = ekva2ldif(rec.r);
        ASSERT_NE(text, nullptr);
        Record back(ldif2ekva(text, 0));
        ASSERT_NE(back.r, nullptr) << text;
        EXPECT_EQ(pairs(back.r), pairs(rec.r)) << text;
        std::free(text);
    }
}

TEST_F(ConvertFiles, AllocationFailureLeavesSetsValid) {
    for (long fail_after = 0; fail_after < 40; fail_after += 3) {
        Set set;
        int capacity = 1;
        int count = ldif2ekva_set_append(&set.s, "dn: a\ncn: x\n\n", nullptr, 0, &capacity);
        kestrin::mem::fail_allocations_after(fail_after);
        count = ldif2ekva_set_append(&set.s, kThree, nullptr, count, &capacity);
        Set fresh;
        const int fresh_count = ldif2ekva_set(&fresh.s, kThree, nullptr);
        kestrin::mem::fail_allocations_after(-1);
        int n = 0;
        while (set.s && set.s[n]) ++n;
        EXPECT_EQ(n, count);
        EXPECT_GE(capacity, count);
        n = 0;
        while (fresh.s && fresh.s[n]) ++n;
        EXPECT_EQ(n, fresh_count);
    }
}

// Running out of memory part way through a file loader must not leave the
// file open.
TEST_F(ConvertFiles, FileLoadersCloseTheirFileWhenMemoryRunsOut) {
    const std::string path = file("three.ldif", kThree);
    const auto open_descriptors = [] {
        int n = 0;
        for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
        return n;
    };
    const int before = open_descriptors();
    for (long fail_after = 0; fail_after < 40; fail_after += 3) {
        Set set, appended;
        int capacity = 1;
        kestrin::mem::fail_allocations_after(fail_after);
        ldif_file2ekva_set(&set.s, path.c_str(), nullptr);
        ldif_file2ekva_set_append(&appended.s, path.c_str(), nullptr, 0, &capacity);
        kestrin::mem::fail_allocations_after(-1);
    }
    EXPECT_EQ(open_descriptors(), before);
}

}  // namespace
