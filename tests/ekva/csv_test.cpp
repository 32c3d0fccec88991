#include "ekva/csv.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ekva/strlist.h"
#include "support.h"

namespace {

using testutil::make_list;
using testutil::to_vector;
using V = std::vector<std::string>;

std::string quoted(const std::string &text, char sep, int force) {
    char *q = csv_quote(text.c_str(), sep, force);
    std::string s = q ? q : "(null)";
    std::free(q);
    return s;
}

V parsed(const std::string &line, char sep) {
    char **fields = csv_parse_line(line.c_str(), sep);
    V v = to_vector(fields);
    strlist_free(fields);
    return v;
}

struct QuoteCase {
    std::string text;
    char sep;
    int force;
    std::string out;
};
class Quote : public testing::TestWithParam<QuoteCase> {};
TEST_P(Quote, Writes) { EXPECT_EQ(quoted(GetParam().text, GetParam().sep, GetParam().force), GetParam().out); }
INSTANTIATE_TEST_SUITE_P(Table, Quote,
                         testing::Values(QuoteCase{"a,b", ',', 0, "\"a,b\""}, QuoteCase{"say \"hi\"", ',', 0, "say \"\"hi\"\""},
                                         QuoteCase{"", ',', 1, "\"\""}, QuoteCase{"", ',', 0, ""},
                                         QuoteCase{"a\nb", ',', 0, "a\\nb"}, QuoteCase{"a\r\nb", ';', 0, "a\r\\nb"},
                                         QuoteCase{"x;y", ';', 0, "\"x;y\""}, QuoteCase{"x,y", ';', 0, "x,y"},
                                         QuoteCase{"plain", '\t', 1, "\"plain\""}));

struct ParseCase {
    std::string line;
    char sep;
    V fields;
};
class Parse : public testing::TestWithParam<ParseCase> {};
TEST_P(Parse, Reads) { EXPECT_EQ(parsed(GetParam().line, GetParam().sep), GetParam().fields) << GetParam().line; }
INSTANTIATE_TEST_SUITE_P(
    Table, Parse,
    testing::Values(ParseCase{"a,,b", ',', {"a", "", "b"}}, ParseCase{"", ',', {""}}, ParseCase{"a,", ',', {"a", ""}},
                    ParseCase{"\"x,y\"\"z\\nw\",2", ',', {"x,y\"z\nw", "2"}},
                    ParseCase{"\"a,b\"c,d", ',', {"a,b\"c,d"}},
                    ParseCase{"\\nstart,mid\\nx", ',', {"\\nstart", "mid\nx"}},
                    ParseCase{"a\\\\nb", ',', {"a\\\\nb"}}, ParseCase{"\"", ',', {""}},
                    ParseCase{"\"\",\"\"", ',', {"", ""}}, ParseCase{"x,\"", ',', {"x", ""}},
                    ParseCase{"a\"b,c", ',', {"a\"b", "c"}}, ParseCase{"\"q\"", ';', {"q"}},
                    ParseCase{"1\t\"2\t3\"\t", '\t', {"1", "2\t3", ""}}, ParseCase{"a\rb", ',', {"a\rb"}}));

TEST(Join, QuotesEveryEntry) {
    char **list = make_list({"a", "b,c", ""});
    char *line = csv_join(list, ',', 0);
    EXPECT_STREQ(line, "a,\"b,c\",");
    std::free(line);
    line = csv_join(list, ',', 1);
    EXPECT_STREQ(line, "\"a\",\"b,c\",\"\"");
    std::free(line);
    strlist_free(list);
    char **empty = make_list({});
    line = csv_join(empty, ',', 1);
    EXPECT_STREQ(line, "");
    std::free(line);
    strlist_free(empty);
    EXPECT_EQ(csv_join(nullptr, ',', 0), nullptr);
}

TEST(Split, IsTheStringListSplit) {
    char **fields = csv_split("\"a,b\",,c", ',');
    EXPECT_EQ(to_vector(fields), (V{"\"a", "b\"", "c"}));
    strlist_free(fields);
    EXPECT_EQ(csv_split(",,", ','), nullptr);
}

// Random fields survive csv_join + csv_parse_line.
TEST(RoundTrip, JoinThenParse) {
    std::mt19937 rng(8);
    for (char sep : {',', ';', '\t', '|'}) {
        for (int round = 0; round < 400; ++round) {
            const bool force = round % 2 == 0;
            const std::string alphabet = force ? std::string("ab n\"\r\n\\") + sep : std::string("ab n\r\n\\") + sep;
            V fields(1 + rng() % 5);
            for (auto &f : fields) {
                const size_t len = rng() % 6;
                for (size_t i = 0; i < len; ++i) {
                    char c = alphabet[rng() % alphabet.size()];
                    if (!f.empty() && f.back() == '\\' && (c == 'n' || c == '\n')) c = 'a';
                    if (!force && f.empty() && c == '\n') c = 'b';
                    f += c;
                }
            }
            char **list = make_list(fields);
            char *line = csv_join(list, sep, force);
            EXPECT_EQ(parsed(line, sep), fields) << line;
            std::free(line);
            strlist_free(list);
        }
    }
}

TEST(NextRecord, WalksABuffer) {
    const char *text = "x;y\r\n\nz";
    char **fields = nullptr;
    const char *pos = csv_next_record(text, 100, ';', &fields);
    EXPECT_EQ(to_vector(fields), (V{"x", "y"}));
    strlist_free(fields);
    fields = nullptr;
    pos = csv_next_record(pos, 100, ';', &fields);
    EXPECT_EQ(fields, nullptr);
    ASSERT_NE(pos, nullptr);
    pos = csv_next_record(pos, 100, ';', &fields);
    EXPECT_EQ(to_vector(fields), (V{"z"}));
    strlist_free(fields);
    fields = nullptr;
    EXPECT_EQ(csv_next_record(pos, 100, ';', &fields), nullptr);
    EXPECT_EQ(csv_next_record(nullptr, 100, ';', &fields), nullptr);
    // A carriage return alone is an empty line too; one before the end is dropped.
    pos = csv_next_record("\r\na\r", 100, ',', &fields);
    EXPECT_EQ(fields, nullptr);
    pos = csv_next_record(pos, 100, ',', &fields);
    EXPECT_EQ(to_vector(fields), (V{"a"}));
    strlist_free(fields);
}

TEST(NextRecord, LongLinesAreCutAtTheMaximum) {
    const std::string text = std::string(30, 'a') + ",bbbbbbbbbb\nnext";
    char **fields = nullptr;
    const char *pos = csv_next_record(text.c_str(), 33, ',', &fields);
    EXPECT_EQ(to_vector(fields), (V{std::string(30, 'a'), "bb"}));
    strlist_free(fields);
    fields = nullptr;
    EXPECT_STREQ(pos, "next");
    pos = csv_next_record(pos, 0, ',', &fields);  // nothing fits: nothing stored
    EXPECT_EQ(fields, nullptr);
    EXPECT_STREQ(pos, "");
}

std::string stream_file(const std::string &bytes) {
    char path[] = "/tmp/kestrin_csv_testXXXXXX";
    const int fd = mkstemp(path);
    FILE *f = fdopen(fd, "w");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return path;
}

V next_fields(FILE *f, char sep, int bom = 0) {
    char **fields = csv_read_record(f, sep, bom);
    V v = fields ? to_vector(fields) : V{"(null)"};
    strlist_free(fields);
    return v;
}

TEST(ReadRecord, LinesBlankLinesAndMarks) {
    const std::string path = stream_file("\xEF\xBB\xBF" "a,b\r\n\nc,\"d\ne\"\r\n" + std::string(48, 'x') + "\n" +
                                         std::string(47, 'y') + "\r\n\r\nlast\r");
    FILE *f = std::fopen(path.c_str(), "r");
    EXPECT_EQ(next_fields(f, ',', 1), (V{"a", "b"}));
    EXPECT_EQ(next_fields(f, ','), (V{"(null)"}));  // the blank line
    EXPECT_FALSE(std::feof(f));
    EXPECT_EQ(next_fields(f, ','), (V{"c", "d"}));  // a line feed ends the line, quotes or not
    EXPECT_EQ(next_fields(f, ','), (V{"e\""}));
    EXPECT_EQ(next_fields(f, ','), (V{std::string(48, 'x')}));
    EXPECT_EQ(next_fields(f, ','), (V{std::string(47, 'y')}));
    EXPECT_EQ(next_fields(f, ','), (V{"(null)"}));
    EXPECT_EQ(next_fields(f, ','), (V{"last\r"}));  // no line feed: the carriage return stays
    EXPECT_EQ(next_fields(f, ','), (V{"(null)"}));
    EXPECT_TRUE(std::feof(f));
    std::fclose(f);
    std::remove(path.c_str());
}

TEST(ReadRecord, ByteOrderMarkOnlyWhenAsked) {
    const std::string path = stream_file("\xEF\xBB\xBFq\n\xEF\xBB\xBF\n");
    FILE *f = std::fopen(path.c_str(), "r");
    EXPECT_EQ(next_fields(f, ','), (V{"\xEF\xBB\xBFq"}));
    EXPECT_EQ(next_fields(f, ',', 1), (V{"\xEF\xBB\xBF"}));  // three bytes only: kept
    std::fclose(f);
    std::remove(path.c_str());
}

TEST(ReadRecord, VeryLongLine) {
    std::string line;
    V want;
    for (int i = 0; i < 20000; ++i) {
        want.push_back("field" + std::to_string(i));
        line += (i ? "," : "") + want.back();
    }
    const std::string path = stream_file(line + "\n");
    FILE *f = std::fopen(path.c_str(), "r");
    EXPECT_EQ(next_fields(f, ','), want);
    std::fclose(f);
    std::remove(path.c_str());
}

}  // namespace
