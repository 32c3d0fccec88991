#include "options.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

const opt_spec kTable[] = {
    {1, "b64_read", "base64 decode input", "b", 0},
    {2, "b64_write", "base64 encode output", "B", 0},
    {3, "b64_guess", "base64 encode on demand", "G", 0},
    {4, "string", "Input String (if omitted, stdin)", "s", 1},
    {5, "infile", "Input File (if ommitted, stdin)", "i", 1},
    {6, "out", "Outputfile instead of stdout", "o", 1},
    {7, "attr", "Attribute name", "a", 1},
    {8, "version", "Show version information", "V", 0},
    {0, nullptr, nullptr, nullptr, 0},
};

struct Result {
    int code;
    std::string value;  // "(none)" when the parser left no value
    bool operator==(const Result &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Result &r) {
    return os << '{' << r.code << ", " << r.value << '}';
}

// Parses a whole argument vector (program name first) from the start.
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
        ParseCase{{"k", "-s", ""}, {{4, ""}}},
        ParseCase{{"k", "-x", "--bogus", "--attr=cn"}, {{-2, "-x"}, {-2, "--bogus"}, {-2, "--attr=cn"}}},
        ParseCase{{"k", "--b", "-attr", "-bB"}, {{-2, "--b"}, {-2, "-attr"}, {-2, "-bB"}}},
        ParseCase{{"k", "--", "-a", "x"}, {{-2, "--"}, {7, "x"}}},
        ParseCase{{"k", "foo", "-a", "cn"}, {}},
        ParseCase{{"k", "-a", "cn", "foo", "-b"}, {{7, "cn"}}},
        ParseCase{{"k", "", "-b"}, {}},
        // The long name is compared after two skipped characters, the short
        // one after one, whatever those characters are.
        ParseCase{{"k", "xxattr", "v"}, {{7, "v"}}},
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
                                         std::vector<std::string>{"k", "-a"},
                                         std::vector<std::string>{"k", "-s", "-B"},
                                         std::vector<std::string>{"k", "-s", "--attr"},
                                         std::vector<std::string>{"k", "stop", "-h"},
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
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Usage: kestrin [options]\n\n"
              "  --help,\t-h\t\t\tDisplays this information\n"
              "  --b64_read,\t-b\t\t\tbase64 decode input\n"
              "  --b64_write,\t-B\t\t\tbase64 encode output\n"
              "  --b64_guess,\t-G\t\t\tbase64 encode on demand\n"
              "  --string,\t-s <args>\t\tInput String (if omitted, stdin)\n"
              "  --infile,\t-i <args>\t\tInput File (if ommitted, stdin)\n"
              "  --out,\t-o <args>\t\tOutputfile instead of stdout\n"
              "  --attr,\t-a <args>\t\tAttribute name\n"
              "  --version,\t-V\t\t\tShow version information\n");
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
