#include "options.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support.h"

namespace {

const opt_spec *const kTable = opt_tool_table;

struct Result {
    int code;
    std::string value;  // "(none)" when the parser left no value
    bool operator==(const Result &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Result &r) {
    return os << '{' << r.code << ", " << r.value << '}';
}

// Parses a whole argument vector (program name first) from the start, up to
// the end of the options or the first error.
std::vector<Result> parse(std::vector<std::string> args, const opt_spec *table = kTable) {
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    opt_reset();
    std::vector<Result> results;
    for (;;) {
        char *value = nullptr;
        const int code = opt_next(static_cast<int>(args.size()), argv.data(), table, &value);
        if (code == OPT_END) break;
        results.push_back({code, value ? value : "(none)"});
        std::free(value);
        if (code < 0) break;  // the tool stops at the first error
    }
    return results;
}

struct ParseCase {
    std::vector<std::string> args;
    std::vector<Result> expected;
};
class Parsing : public testing::TestWithParam<ParseCase> {};

TEST_P(Parsing, ReturnsCodesAndValuesInOrder) {
    EXPECT_EQ(parse(GetParam().args), GetParam().expected);
}

constexpr int kUnknown = OPT_UNRECOGNISED, kUnexpected = OPT_UNEXPECTED, kNeedsValue = OPT_NEEDS_VALUE;

INSTANTIATE_TEST_SUITE_P(
    Table, Parsing,
    testing::Values(
        ParseCase{{"k"}, {}},
        ParseCase{{"k", "-a", "cn", "-s", "hello"}, {{7, "cn"}, {4, "hello"}}},
        ParseCase{{"k", "--attr", "cn", "--b64_read"}, {{7, "cn"}, {1, "(none)"}}},
        ParseCase{{"k", "-b", "-B", "-G", "-V"}, {{1, "(none)"}, {2, "(none)"}, {3, "(none)"}, {8, "(none)"}}},
        ParseCase{{"k", "-s", "-x"}, {{4, "-x"}}},
        ParseCase{{"k", "-s", "-5"}, {{4, "-5"}}},
        ParseCase{{"k", "-s", "-"}, {{4, "-"}}},
        ParseCase{{"k", "-s", "--"}, {{4, "--"}}},
        ParseCase{{"k", "-s", ""}, {{4, ""}}},
        ParseCase{{"k", "-s", "-bB"}, {{4, "-bB"}}},  // only a whole option name is refused
        // Unknown options, each as written.
        ParseCase{{"k", "-x", "-b"}, {{kUnknown, "-x"}}},
        ParseCase{{"k", "--bogus"}, {{kUnknown, "--bogus"}}},
        ParseCase{{"k", "--b"}, {{kUnknown, "--b"}}},
        ParseCase{{"k", "-attr"}, {{kUnknown, "-attr"}}},
        ParseCase{{"k", "-battr"}, {{kUnknown, "-battr"}}},
        ParseCase{{"k", "-"}, {{kUnknown, "-"}}},
        ParseCase{{"k", "---attr", "x"}, {{kUnknown, "---attr"}}},
        ParseCase{{"k", "--b64_read=1"}, {{kUnknown, "--b64_read=1"}}},
        ParseCase{{"k", "--bogus=1"}, {{kUnknown, "--bogus=1"}}},
        ParseCase{{"k", "--=x"}, {{kUnknown, "--=x"}}},
        ParseCase{{"k", "-a=cn"}, {{kUnknown, "-a=cn"}}},
        ParseCase{{"k", "-acn"}, {{kUnknown, "-acn"}}},
        ParseCase{{"k", "-ab", "x"}, {{kUnknown, "-ab"}}},
        ParseCase{{"k", "-bx"}, {{kUnknown, "-bx"}}},
        ParseCase{{"k", "-bh"}, {{kUnknown, "-bh"}}},
        // --name=value for the options that take a value.
        ParseCase{{"k", "--attr=cn", "--string="}, {{7, "cn"}, {4, ""}}},
        ParseCase{{"k", "--string=-V", "--out=-", "--infile=a=b"}, {{4, "-V"}, {6, "-"}, {5, "a=b"}}},
        // Bundles: one call per letter, a last value letter takes the next argument.
        ParseCase{{"k", "-bBG", "-b"}, {{1, "(none)"}, {2, "(none)"}, {3, "(none)"}, {1, "(none)"}}},
        ParseCase{{"k", "-Ba", "cn", "-s", "v"}, {{2, "(none)"}, {7, "cn"}, {4, "v"}}},
        ParseCase{{"k", "-BV", "-x"}, {{2, "(none)"}, {8, "(none)"}, {kUnknown, "-x"}}},
        ParseCase{{"k", "-bBs", "-5"}, {{1, "(none)"}, {2, "(none)"}, {4, "-5"}}},
        // Missing values, named as written.
        ParseCase{{"k", "-a"}, {{kNeedsValue, "-a"}}},
        ParseCase{{"k", "--attr"}, {{kNeedsValue, "--attr"}}},
        ParseCase{{"k", "-s", "-B"}, {{kNeedsValue, "-s"}}},
        ParseCase{{"k", "-s", "--attr"}, {{kNeedsValue, "-s"}}},
        ParseCase{{"k", "-Ba"}, {{2, "(none)"}, {kNeedsValue, "-Ba"}}},
        ParseCase{{"k", "-bs", "-G"}, {{1, "(none)"}, {kNeedsValue, "-bs"}}},
        // What is not an option, and what follows "--".
        ParseCase{{"k", "foo", "-a", "cn"}, {{kUnexpected, "foo"}}},
        ParseCase{{"k", "-a", "cn", "photo.jpg"}, {{7, "cn"}, {kUnexpected, "photo.jpg"}}},
        ParseCase{{"k", "", "-b"}, {{kUnexpected, ""}}},
        ParseCase{{"k", "xxattr", "v"}, {{kUnexpected, "xxattr"}}},
        ParseCase{{"k", "-b", "--"}, {{1, "(none)"}}},
        ParseCase{{"k", "--", "-a", "x"}, {{kUnexpected, "-a"}}},
        ParseCase{{"k", "--", "--"}, {{kUnexpected, "--"}}},
        ParseCase{{"k", "-a", "x", "-a", "y"}, {{7, "x"}, {7, "y"}}}));

TEST(Parsing, EndOfArgumentsLeavesTheValuePointerAlone) {
    std::string prog = "k";
    char *argv[] = {prog.data(), nullptr};
    opt_reset();
    char sentinel = 0;
    char *value = &sentinel;
    EXPECT_EQ(opt_next(1, argv, kTable, &value), OPT_END);
    EXPECT_EQ(value, &sentinel);
}

TEST(Parsing, IndexIsNeverResetByTheParser) {
    std::string prog = "k", b = "-b";
    char *argv[] = {prog.data(), b.data(), nullptr};
    opt_reset();
    char *value = nullptr;
    EXPECT_EQ(opt_next(2, argv, kTable, &value), 1);
    EXPECT_EQ(opt_next(2, argv, kTable, &value), OPT_END);
    EXPECT_EQ(opt_next(2, argv, kTable, &value), OPT_END);
}

// Each of these prints the usage and ends the process with status 0.
class UsageExit : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(UsageExit, ExitsWithStatusZero) {
    EXPECT_EXIT(parse(GetParam()), testing::ExitedWithCode(0), "");
}

INSTANTIATE_TEST_SUITE_P(Cases, UsageExit,
                         testing::Values(std::vector<std::string>{"k", "-h"},
                                         std::vector<std::string>{"k", "--help"},
                                         std::vector<std::string>{"k", "-s", "-h"},
                                         std::vector<std::string>{"k", "-a", "--help"},
                                         std::vector<std::string>{"k", "-x", "-h"},
                                         std::vector<std::string>{"k", "stop", "-h"},
                                         std::vector<std::string>{"k", "--", "-h"},
                                         std::vector<std::string>{"k", "-V", "--help"}));

TEST(UsageExit, HelpScanRunsBeforeAnyOptionTakesEffect) {
    testing::internal::CaptureStdout();
    EXPECT_EXIT(
        {
            const auto r = parse({"k", "-a", "x", "-V", "-h"});
            std::exit(r.empty() ? 0 : 3);
        },
        testing::ExitedWithCode(0), "");
    testing::internal::GetCapturedStdout();
}

TEST(Usage, PrintsTheExactText) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(opt_usage("kestrin", kTable), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string("Usage: kestrin") + testutil::kUsageBody);
}

TEST(Usage, RowsWithOneOrNoName) {
    const opt_spec table[] = {
        {1, "long", "L", nullptr, 1}, {2, "flag", "F", nullptr, 0}, {3, nullptr, "S", "s", 1},
        {4, nullptr, "T", "t", 0},    {5, nullptr, "N", nullptr, 0}, {6, "after", nullptr, "x", 0},
        {0, nullptr, nullptr, nullptr, 0},
    };
    testing::internal::CaptureStdout();
    opt_usage("p", table);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Usage: p [options]\n\n"
              "  --help,\t-h\t\t\tDisplays this information\n"
              "  --long <args>\t\t\tL\n"
              "  --flag\t\t\tF\n"
              "  \t\t-s <args>\t\tS\n"
              "  \t\t-t\t\t\tT\n");
    // Matching walks on to the code-0 row, past the row without help.
    EXPECT_EQ(parse({"p", "-x"}, table), (std::vector<Result>{{6, "(none)"}}));
    EXPECT_EQ(parse({"p", "-s", "-x"}, table), (std::vector<Result>{{3, "-x"}}));
}

}  // namespace
