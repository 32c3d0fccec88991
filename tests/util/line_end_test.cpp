// Every reader of lines against the same line ends: each keeps its own rule
// for carriage returns, and callers see the difference.
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <tuple>

#include "ekva/csv.h"
#include "ekva/strlist.h"
#include "ldif/ldif.h"
#include "support.h"
#include "util/file.h"

namespace {

// The rules, in the order of the expected columns below.
enum Rule { kOnlyLf, kCrLf, kLfThenCr, kEveryCr };

using testutil::Stream;
using testutil::take;

std::string joined(char **list, const char *between) {
    if (!list) return "(null)";
    std::string s;
    for (char **p = list; *p; ++p) s += (p == list ? "" : between) + std::string(*p);
    strlist_free(list);
    return s;
}

// An entry text without the LF every one of its lines ends in.
std::string entry_line(std::string entry) {
    if (!entry.empty() && entry.back() == '\n') entry.pop_back();
    return entry;
}

std::string via_file_read_lines(const std::string &text) {
    char path[] = "/tmp/kestrin_line_end_testXXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return "(no temporary file)";
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    int count = 0;
    char **lines = written ? file_read_lines(path, &count) : nullptr;
    unlink(path);
    if (!lines) return "(null)";
    std::string first = lines[0];
    strlist_free(lines);
    return first;
}

std::string via_stream_read_words(const std::string &text) {
    Stream s(text);
    return joined(stream_read_words(s.file), " ");
}

std::string via_csv_read_record(const std::string &text) {
    Stream s(text);
    return joined(csv_read_record(s.file, ',', 0), ",");
}

std::string via_csv_next_record(const std::string &text) {
    char **fields = nullptr;
    csv_next_record(text.c_str(), 1000, ',', &fields);
    return joined(fields, ",");
}

std::string via_ldif_read_entry(const std::string &text) {
    Stream s(text);
    return entry_line(take(ldif_read_entry(s.file)));
}

std::string via_ldif_next_entry(const std::string &text) {
    char *entry = nullptr;
    int length = 0;
    ldif_next_entry(text.c_str(), 0, &entry, &length);
    return entry_line(take(entry));
}

std::string via_ldif_parse_line(const std::string &text) {
    char *name = nullptr, *value = nullptr;
    int length = 0, binary = 0;
    if (!ldif_parse_line(text.c_str(), 0, &name, &value, &length, &binary)) return "(null)";
    return take(name) + ": " + take(value);
}

struct Reader {
    const char *name;
    Rule rule;
    std::string (*first_line)(const std::string &text);
};

const Reader kReaders[] = {
    {"file_read_lines", kOnlyLf, via_file_read_lines},
    {"stream_read_words", kCrLf, via_stream_read_words},
    {"csv_read_record", kCrLf, via_csv_read_record},
    {"csv_next_record", kLfThenCr, via_csv_next_record},
    {"ldif_read_entry", kLfThenCr, via_ldif_read_entry},
    {"ldif_next_entry", kLfThenCr, via_ldif_next_entry},
    {"ldif_parse_line", kEveryCr, via_ldif_parse_line},
};

struct Input {
    const char *name;
    std::string text;
    std::array<std::string, 4> want;  // by rule
};

const Input kInputs[] = {
    {"lf", "dn: v\n", {"dn: v", "dn: v", "dn: v", "dn: v"}},
    {"cr_lf", "dn: v\r\n", {"dn: v\r", "dn: v", "dn: v", "dn: v"}},
    {"lone_cr", "dn: v\rw\n", {"dn: v\rw", "dn: v\rw", "dn: v\rw", "dn: vw"}},
    {"cr_cr_lf", "dn: v\r\r\n", {"dn: v\r\r", "dn: v\r", "dn: v\r", "dn: v"}},
    {"cr_at_end_of_text", "dn: v\r", {"dn: v\r", "dn: v\r", "dn: v", "dn: v"}},
    {"no_line_end", "dn: v", {"dn: v", "dn: v", "dn: v", "dn: v"}},
};

class LineEnds : public testing::TestWithParam<std::tuple<Reader, Input>> {};

TEST_P(LineEnds, EachReaderKeepsItsRule) {
    const auto &[reader, input] = GetParam();
    EXPECT_EQ(reader.first_line(input.text), input.want[reader.rule]);
}

INSTANTIATE_TEST_SUITE_P(AllReaders, LineEnds, testing::Combine(testing::ValuesIn(kReaders), testing::ValuesIn(kInputs)),
                         [](const testing::TestParamInfo<LineEnds::ParamType> &info) {
                             return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
                         });

}  // namespace
