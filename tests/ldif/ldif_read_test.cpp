#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ldif/ldif.h"
#include "support.h"

namespace {

struct Parsed {
    bool ok;
    std::string name, value;
    int binary;
    std::string rest;  // the text after the returned cursor
};

Parsed parse(const std::string &text, size_t offset = 0, int length = 0) {
    char *name = nullptr, *value = nullptr;
    int len = -7, binary = -7;
    const char *next = ldif_parse_line(text.c_str() + offset, length, &name, &value, &len, &binary);
    Parsed p{next != nullptr, "", "", binary, ""};
    if (next) {
        p.name = name;
        p.value.assign(value, static_cast<size_t>(len));
        p.rest = next;
        std::free(name);
        std::free(value);
    }
    return p;
}

class ParseFiles : public testutil::TempDirTest {};

struct LineCase {
    std::string text;
    std::string name, value;
    int binary;
    std::string rest;
};
class ParseLine : public testing::TestWithParam<LineCase> {};

TEST_P(ParseLine, Reads) {
    const auto &c = GetParam();
    const Parsed p = parse(c.text);
    ASSERT_TRUE(p.ok) << c.text;
    EXPECT_EQ(p.name, c.name);
    EXPECT_EQ(p.value, c.value);
    EXPECT_EQ(p.binary, c.binary);
    EXPECT_EQ(p.rest, c.rest);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ParseLine,
    testing::Values(LineCase{"cn: a b\nsn: x\n", "cn", "a b", 0, "sn: x\n"},
                    LineCase{"description: abc\n def\nx: y", "description", "abcdef", 0, "x: y"},
                    LineCase{"cn: ab\r\nnext", "cn", "ab", 0, "next"},
                    LineCase{"\r\nnext", "", "", 0, "next"},
                    LineCase{"cn: a\rb\n", "cn", "ab", 0, ""},
                    // The fill after the marker is any number of spaces,
                    // none included; a tab is a value character.
                    LineCase{"givenName:  Test\n", "givenName", "Test", 0, ""},
                    LineCase{"cn:x\n", "cn", "x", 0, ""},
                    LineCase{"cn:foo\n", "cn", "foo", 0, ""},
                    LineCase{"cn:   x\n", "cn", "x", 0, ""},
                    LineCase{"cn:\n", "cn", "", 0, ""},
                    LineCase{"cn:   \n", "cn", "", 0, ""},
                    LineCase{"cn:\tx\n", "cn", "\tx", 0, ""},
                    LineCase{"cn: \tx \n", "cn", "\tx ", 0, ""},
                    LineCase{"cn:  \n  x\n", "cn", "x", 0, ""},  // the folds are joined first
                    LineCase{"data::AAEC\n", "data", std::string("\0\1\2", 3), 1, ""},
                    LineCase{"data::    AAEC\n", "data", std::string("\0\1\2", 3), 1, ""},
                    LineCase{"ref:<   file:///nonexistent/kestrin\n", "ref", "", 1, ""},
                    LineCase{"# x\n", "#", "#", 0, ""},
                    LineCase{"\nrest", "", "", 0, "rest"},
                    LineCase{"data:: AAEC\n", "data", std::string("\0\1\2", 3), 1, ""},
                    LineCase{"data:: AA\n E C\n", "data", std::string("\0\1\2", 3), 1, ""},
                    // Nothing after the marker: the empty value, as it is written.
                    LineCase{"photo:: \nnext", "photo", "", 1, "next"},
                    LineCase{"photo::\nnext", "photo", "", 1, "next"},
                    LineCase{"photo:: \r\n", "photo", "", 1, ""},
                    LineCase{"photo::", "photo", "", 1, ""},
                    LineCase{"a: b:c\n", "a", "b:c", 0, ""},
                    LineCase{"last: line", "last", "line", 0, ""},
                    LineCase{"CN;lang-de: x\n", "CN;lang-de", "x", 0, ""},
                    LineCase{"-\nnext", "-", "", 0, "next"},
                    LineCase{"no colon here\n", "no colon here", "", 0, ""},
                    LineCase{"ref:< file:///nonexistent/kestrin\n", "ref", "", 1, ""},
                    LineCase{"c;binary: /nonexistent/kestrin\n", "c;binary", "", 1, ""},
                    LineCase{"fold\n ed: v\n", "folded", "v", 0, ""},
                    // An empty line, or one of CRs only, is never continued.
                    LineCase{"\n y\n", "", "", 0, " y\n"},
                    LineCase{"\r\n y: 1\n", "", "", 0, " y: 1\n"},
                    LineCase{"\r\r\n y\n", "", "", 0, " y\n"},
                    LineCase{" y: 1\n", " y", "1", 0, ""},
                    LineCase{"a\r\n y\n", "ay", "", 0, ""},
                    LineCase{"a: 1\n \n y\n", "a", "1y", 0, ""}));

TEST(ParseLineEnd, NullAndFailures) {
    char *name = nullptr, *value = nullptr;
    int len = 0, binary = 5;
    EXPECT_EQ(ldif_parse_line(nullptr, 0, &name, &value, &len, &binary), nullptr);
    EXPECT_EQ(ldif_parse_line("", 0, &name, &value, &len, &binary), nullptr);
    EXPECT_EQ(binary, 0);
    EXPECT_FALSE(parse("data:: ==\n").ok);     // decodes to nothing
    EXPECT_FALSE(parse("data:: QR=x\n").ok);   // malformed
    const Parsed filled = parse("data::  \n");  // the fill only: the empty value
    EXPECT_TRUE(filled.ok);
    EXPECT_EQ(filled.value, "");
    EXPECT_TRUE(filled.binary);
    // The last line has no line break: the cursor stands on the NUL, and the
    // next call ends the walk.
    const std::string text = "a: 1";
    const Parsed p = parse(text);
    EXPECT_TRUE(p.ok);
    EXPECT_EQ(p.rest, "");
    EXPECT_FALSE(parse(text, 4).ok);
}

TEST(ParseLineEnd, LengthArgumentIsNotALimit) {
    const std::string value(5000, 'v');
    const std::string text = "x: " + value + "\n";
    EXPECT_EQ(parse(text, 0, 10).value, value);
    EXPECT_EQ(parse(text, 0, -1).value, value);
    EXPECT_EQ(parse(text, 0, static_cast<int>(text.size())).value, value);
}

TEST_F(ParseFiles, FileReferences) {
    const std::string path = file("p", std::string("ab\0c", 4));
    for (const std::string &ref : {"file://" + path, path}) {
        const Parsed p = parse("photo:< " + ref + "\n");
        ASSERT_TRUE(p.ok);
        EXPECT_EQ(p.value, std::string("ab\0c", 4));
        EXPECT_EQ(p.binary, 1);
    }
    const Parsed cert = parse("cert;binary: " + path + "\nnext");
    EXPECT_EQ(cert.name, "cert;binary");
    EXPECT_EQ(cert.value, std::string("ab\0c", 4));
    EXPECT_EQ(cert.binary, 1);
    EXPECT_EQ(cert.rest, "next");
    EXPECT_EQ(parse("d:< " + dir + "\n").value, "");  // a directory reads as nothing
    EXPECT_EQ(parse("e:< " + file("empty", "") + "\n").value, "");
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "through a pipe", 14), 14);
    close(fds[1]);
    EXPECT_EQ(parse("f:< file:///proc/self/fd/" + std::to_string(fds[0]) + "\n").value, "through a pipe");
    close(fds[0]);
    // A FIFO is read to the end its writers give (waited for as a blocking
    // open waits): tests/ldif/ldif_fifo_test.cpp has those cases.
}

// A walk over a text of many lines: every line is met once, in order.
TEST(ParseLineWalk, VisitsEveryLine) {
    std::string text;
    for (int i = 0; i < 2000; ++i) text += "attr" + std::to_string(i) + ": value " + std::to_string(i) + "\n";
    const char *cursor = text.c_str();
    int n = 0;
    char *name, *value;
    int len, binary;
    while ((cursor = ldif_parse_line(cursor, static_cast<int>(text.size()), &name, &value, &len, &binary))) {
        EXPECT_EQ(std::string(name), "attr" + std::to_string(n));
        std::free(name);
        std::free(value);
        ++n;
    }
    EXPECT_EQ(n, 2000);
}

struct Entry {
    const char *next;
    std::string text;
    int len;
};

Entry next_entry(const char *cursor) {
    char *entry = reinterpret_cast<char *>(1);
    int len = -1;
    const char *next = ldif_next_entry(cursor, cursor ? static_cast<int>(std::strlen(cursor)) : 0, &entry, &len);
    Entry e{next, entry ? entry : "(none)", len};
    std::free(entry);
    return e;
}

TEST(NextEntry, WalksEntries) {
    const std::string text = "dn: a\ncn: b\n\ndn: c\n";
    Entry e = next_entry(text.c_str());
    EXPECT_EQ(e.text, "dn: a\ncn: b\n");
    EXPECT_EQ(e.len, 12);
    EXPECT_STREQ(e.next, "dn: c\n");
    e = next_entry(e.next);
    EXPECT_EQ(e.text, "dn: c\n");
    EXPECT_EQ(e.len, 6);
    EXPECT_STREQ(e.next, "");
    EXPECT_EQ(next_entry(e.next).next, nullptr);
    EXPECT_EQ(next_entry(nullptr).next, nullptr);
}

TEST(NextEntry, BlankLinesPreambleFoldsAndCarriageReturns) {
    const std::string text = "version: 1\n# c\n\n\ndn: x\r\ncn: ab\r\n cd\n x\r\n\n\ndn:\nDN: y\ndn: z\nsn: q";
    Entry e = next_entry(text.c_str());  // blank line after the preamble
    EXPECT_EQ(e.text, "(none)");
    EXPECT_EQ(e.len, 0);
    e = next_entry(e.next);  // the second blank line
    EXPECT_EQ(e.text, "(none)");
    e = next_entry(e.next);
    EXPECT_EQ(e.text, "dn: x\ncn: ab\rcdx\n");  // a CR before a fold stays
    e = next_entry(e.next);
    EXPECT_EQ(e.text, "(none)");
    e = next_entry(e.next);  // "dn:" alone (an empty name) starts an entry
    EXPECT_EQ(e.text, "dn:\nDN: y\ndn: z\nsn: q\n");
    EXPECT_EQ(next_entry(e.next).next, nullptr);
}

TEST(NextEntry, ABlankLineIsNeverContinued) {
    const std::string text = "dn: a\nc: x\n\n  y\n";
    Entry e = next_entry(text.c_str());
    EXPECT_EQ(e.text, "dn: a\nc: x\n");
    EXPECT_STREQ(e.next, "  y\n");
    e = next_entry(e.next);  // a line before any dn: line
    EXPECT_EQ(e.text, "(none)");
    EXPECT_STREQ(e.next, "");
    // Nor is a CR LF blank line, or one of CRs only; each ends the entry.
    e = next_entry("dn: a\nb: c\r\n\r\n y\n");
    EXPECT_EQ(e.text, "dn: a\nb: c\n");
    EXPECT_STREQ(e.next, " y\n");
    e = next_entry("dn: a\n\r\r\n b: c\n");
    EXPECT_EQ(e.text, "dn: a\n");
    EXPECT_STREQ(e.next, " b: c\n");
}

TEST(NextEntry, EntriesWithoutBlankLineRunTogether) {
    const Entry e = next_entry("dn: a\ndn: b\n");
    EXPECT_EQ(e.text, "dn: a\ndn: b\n");
}

class ReadEntry : public testutil::StreamTest {
protected:
    std::string next() {
        char *entry = ldif_read_entry(stream);
        std::string s = entry ? entry : "(null)";
        std::free(entry);
        return s;
    }
};

TEST_F(ReadEntry, KeepsFoldsAndDropsCarriageReturns) {
    open("version: 1\n\ndn: a\r\ncn: ab\r\n cd\r\n\ndn: b\nsn: c");
    EXPECT_EQ(next(), "(null)");  // the blank line after the preamble
    EXPECT_FALSE(std::feof(stream));
    EXPECT_EQ(next(), "dn: a\ncn: ab\n cd\n");
    EXPECT_EQ(next(), "dn: b\nsn: c\n");  // the end of the stream delivers the last entry
    EXPECT_EQ(next(), "(null)");
    EXPECT_TRUE(std::feof(stream));
}

TEST_F(ReadEntry, OneCarriageReturnIsRemovedAfterTheLineFeed) {
    open("dn: a\ncn: b\r\r\nsn: c\r");
    EXPECT_EQ(next(), "dn: a\ncn: b\r\nsn: c\n");
}

// A line of CRs only is a blank line, as it is for ldif_next_entry.
TEST_F(ReadEntry, ALineOfCarriageReturnsIsBlank) {
    open("dn: a\ncn: b\n\r\r\n y\ndn: c\n");
    EXPECT_EQ(next(), "dn: a\ncn: b\n");
    EXPECT_EQ(next(), "dn: c\n");
}

TEST_F(ReadEntry, LongLinesArriveWhole) {
    const std::string long_value(510 - 4, 'x'), longer(5000, 'y');
    open("dn: a\nd: " + long_value + "\nphoto: " + longer + "\nsn: z\n\n");
    EXPECT_EQ(next(), "dn: a\nd: " + long_value + "\nphoto: " + longer + "\nsn: z\n");
}

// The stream stays the caller's: a byte pushed back before is read first,
// and a read after the entry starts right after its blank line.
TEST_F(ReadEntry, SharesTheStreamWithOtherReaders) {
    open("Xn: a\ncn: b\n\nnext line\ndn: c\n");
    ASSERT_EQ(std::fgetc(stream), 'X');
    ASSERT_EQ(std::ungetc('d', stream), 'd');
    EXPECT_EQ(next(), "dn: a\ncn: b\n");
    char line[32];
    ASSERT_NE(std::fgets(line, sizeof line, stream), nullptr);
    EXPECT_STREQ(line, "next line\n");
    EXPECT_EQ(next(), "dn: c\n");
    EXPECT_EQ(std::fgetc(stream), EOF);
}

// The entries of a text read with a stream buffer of `buffer` bytes (0: the
// stream's own), a "(null)" for each call that gave none.
std::vector<std::string> entries_through_buffer(const std::string &text, size_t buffer) {
    std::string bytes = text;
    FILE *f = fmemopen(bytes.data(), bytes.size(), "r");
    if (!f) return {"fmemopen failed"};
    std::vector<char> storage(buffer + 1);
    if (buffer != 0) setvbuf(f, storage.data(), _IOFBF, buffer);
    std::vector<std::string> got;
    while (!std::feof(f)) {
        char *entry = ldif_read_entry(f);
        got.push_back(entry ? entry : "(null)");
        std::free(entry);
    }
    std::fclose(f);
    return got;
}

// Lines are taken in runs from the stream's buffer where they sit whole;
// every boundary of the buffer, inside a line, its CR LF or a blank line,
// gives the same entries.
class ReadEntryBuffer : public testing::TestWithParam<size_t> {};

TEST_P(ReadEntryBuffer, EntriesDoNotDependOnWhereTheBufferEnds) {
    const std::string photo(5000, 'P');
    const std::string text = "version: 1\n\ndn: a\r\ncn: ab\r\n cd\r\n\ndn: b\nsn: c\n\n\n\r\r\n"
                             "dn: c\nx: " + photo + "\n \n\nskipped: 1\ndn: d\nd: e\r\r\n\r\n"
                             "dn: e\nf: g\n\ndn: f\n\n\n\ndn: g\nh: i\r";
    const std::vector<std::string> want = {
        "(null)", "dn: a\ncn: ab\n cd\n", "dn: b\nsn: c\n", "(null)", "(null)",
        "dn: c\nx: " + photo + "\n \n", "dn: d\nd: e\r\n", "dn: e\nf: g\n", "dn: f\n",
        "(null)", "(null)", "dn: g\nh: i\n"};
    EXPECT_EQ(entries_through_buffer(text, GetParam()), want);
}

// Texts of LFs, CRs, blanks and dn: lines in every mix: a buffer of one
// byte (never a whole line in it) and the stream's own buffer agree.
TEST_P(ReadEntryBuffer, AgreesWithAOneByteBufferOnMixedTexts) {
    const char *pieces[] = {"\n", "\n", "\r", "dn: ", "a", " ", ":", "x\n", "\r\n", "dn: b\n"};
    unsigned seed = 7;
    for (int round = 0; round < 300; ++round) {
        std::string text;
        const int n = 1 + static_cast<int>(seed % 60);
        for (int i = 0; i < n; ++i) {
            seed = seed * 1103515245u + 12345u;
            text += pieces[(seed >> 16) % 10];
        }
        ASSERT_EQ(entries_through_buffer(text, GetParam()), entries_through_buffer(text, 1)) << testing::PrintToString(text);
    }
}

// The blank line that ends an entry, at every place within the blocks the
// reader scans the buffer in.
TEST(ReadEntryBlank, IsFoundWhereverItFalls) {
    for (size_t n = 0; n < 70; ++n) {
        const std::string value(n, 'x');
        const std::string next = "dn: c\nd: " + std::string(40, 'y') + "\n";
        const std::vector<std::string> want = {"dn: a\nb: " + value + "\n", next};
        ASSERT_EQ(entries_through_buffer("dn: a\nb: " + value + "\n\n" + next, 0), want) << n;
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, ReadEntryBuffer, testing::Values(0, 2, 3, 5, 16, 17, 64, 100));

TEST_F(ReadEntry, BlankLineBeforeDn) {
    open("\n\ndn: a\n");
    EXPECT_EQ(next(), "(null)");
    EXPECT_EQ(next(), "(null)");
    EXPECT_EQ(next(), "dn: a\n");
    EXPECT_EQ(ldif_read_entry(nullptr), nullptr);
}

}  // namespace
