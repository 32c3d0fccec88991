#include "util/str.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Op = void (*)(char *);
struct InPlaceCase {
    Op op;
    const char *name;
    std::string in, out;
};
class InPlace : public testing::TestWithParam<InPlaceCase> {};

TEST_P(InPlace, Rewrites) {
    std::string buf = GetParam().in;
    GetParam().op(buf.data());
    EXPECT_EQ(std::string(buf.c_str()), GetParam().out) << GetParam().name << " of [" << GetParam().in << "]";
}

INSTANTIATE_TEST_SUITE_P(
    Table, InPlace,
    testing::Values(InPlaceCase{str_trim, "trim", "  \tabc \t  ", "abc \t"},
                    InPlaceCase{str_trim, "trim", " \t \t", ""}, InPlaceCase{str_trim, "trim", "", ""},
                    InPlaceCase{str_trim, "trim", "a  b", "a  b"},
                    InPlaceCase{str_first_word, "first_word", "\talpha beta", "alpha"},
                    InPlaceCase{str_first_word, "first_word", "one\ttwo", "one"},
                    InPlaceCase{str_first_word, "first_word", "  \t ", ""},
                    InPlaceCase{str_unquote, "unquote", "  hello world   ", "hello world"},
                    InPlaceCase{str_unquote, "unquote", "\"a b\" trailing", "a b"},
                    InPlaceCase{str_unquote, "unquote", "'it\\'s'", "it's"},
                    InPlaceCase{str_unquote, "unquote", "\"abc", "abc"},
                    InPlaceCase{str_unquote, "unquote", "\"ab'cd\"", "ab"},
                    InPlaceCase{str_unquote, "unquote", "\"say \\\"hi\\\"\"", "say \"hi\""},
                    InPlaceCase{str_unquote, "unquote", "\"a\\nb\"", "a\\nb"},
                    InPlaceCase{str_unquote, "unquote", "\"  keep  \"", "  keep  "},
                    InPlaceCase{str_unquote, "unquote", "plain\t", "plain\t"},
                    InPlaceCase{str_unquote, "unquote", "\"\"", ""},
                    InPlaceCase{str_unquote, "unquote", "   ", ""}));

struct SplitCase {
    std::string line, key, value;
};
class SplitKeyValue : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitKeyValue, Splits) {
    const auto &c = GetParam();
    std::vector<char> key(c.line.size() + 1, 'k'), value(c.line.size() + 1, 'v');
    str_split_key_value(c.line.c_str(), key.data(), value.data());
    EXPECT_EQ(std::string(key.data()), c.key);
    EXPECT_EQ(std::string(value.data()), c.value);
}

INSTANTIATE_TEST_SUITE_P(Table, SplitKeyValue,
                         testing::Values(SplitCase{"  name tail = 'a b'  ", "name", "a b"},
                                         SplitCase{"no equals here", "", ""}, SplitCase{"a=b=c", "a", "b=c"},
                                         SplitCase{"=v", "", "v"}, SplitCase{"k=", "k", ""}));

TEST(CharPositions, ListsIndexesThenZero) {
    int *pos = nullptr;
    EXPECT_EQ(str_char_positions("a.b.c", '.', &pos), 2);
    ASSERT_NE(pos, nullptr);
    EXPECT_EQ(pos[0], 1);
    EXPECT_EQ(pos[1], 3);
    EXPECT_EQ(pos[2], 0);
    std::free(pos);
    EXPECT_EQ(str_char_positions("abc", '.', &pos), 0);
    EXPECT_EQ(pos[0], 0);
    std::free(pos);
    EXPECT_EQ(str_char_positions("abc", '\0', &pos), 0);
    EXPECT_EQ(pos[0], 0);
    std::free(pos);
    EXPECT_EQ(str_char_positions("...", '.', &pos), 3);
    EXPECT_EQ(pos[0], 0);
    EXPECT_EQ(pos[2], 2);
    EXPECT_EQ(pos[3], 0);
    std::free(pos);
}

TEST(PathExtension, AfterTheLastDot) {
    EXPECT_STREQ(path_extension("archive.tar.gz"), "gz");
    EXPECT_STREQ(path_extension(".profile"), "");
    EXPECT_STREQ(path_extension("noext"), "");
    EXPECT_STREQ(path_extension("file."), "");
    EXPECT_STREQ(path_extension("dir.d/file"), "d/file");
    const char *name = "x.y";
    EXPECT_EQ(path_extension(name), name + 2);  // points into the argument
}

class DottedQuad : public testing::TestWithParam<std::pair<const char *, int>> {};
TEST_P(DottedQuad, Recognises) { EXPECT_EQ(str_is_dotted_quad(GetParam().first), GetParam().second) << GetParam().first; }
INSTANTIATE_TEST_SUITE_P(Table, DottedQuad,
                         testing::Values(std::pair<const char *, int>{"192.168.0.1", 1}, std::pair{"0.0.0.0", 1},
                                         std::pair{"255.255.255.255", 1}, std::pair{"010.001.0.1", 1},
                                         std::pair{"256.1.1.1", 0}, std::pair{"1.2.3", 0},
                                         std::pair{"1.2.3.4.5", 0}, std::pair{"1..2.3", 0},
                                         std::pair{".1.2.3", 0}, std::pair{"1.2.3.", 0},
                                         std::pair{"1.2.3.a", 0}, std::pair{"", 0}, std::pair{"1.2.3. 4", 0},
                                         std::pair{"00000000000001.2.3.4", 1},
                                         std::pair<const char *, int>{nullptr, 0}));

}  // namespace
