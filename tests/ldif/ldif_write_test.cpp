#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "codec/base64.h"
#include "ekva/ekva.h"
#include "ldif/ldif.h"
#include "support.h"
#include "util/alloc_internal.h"

namespace {

// One call on an empty buffer; returns the text, checking the count and NUL.
std::string write1(const char *name, const std::string &value, int mode, int value_len = -1) {
    int count = 0;
    char *text = ldif_write_attr(nullptr, &count, name, value.c_str(),
                                 value_len < 0 ? static_cast<int>(value.size()) : value_len, mode);
    if (!text) {
        ADD_FAILURE() << "writer failed for " << (name ? name : "(null)");
        return {};
    }
    std::string result(text, static_cast<size_t>(count));
    EXPECT_EQ(text[count], '\0');
    std::free(text);
    return result;
}

using testutil::unfold;

void expect_line_lengths_at_most_78(const std::string &text) {
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        EXPECT_LE(nl - start + 1, 78u);
}

struct Case {
    const char *name;
    std::string value;
    int mode;
    std::string expected;
};
class WriterCases : public testing::TestWithParam<Case> {};

TEST_P(WriterCases, WritesExactText) {
    const auto &c = GetParam();
    EXPECT_EQ(write1(c.name, c.value, c.mode), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, WriterCases,
    testing::Values(
        Case{"cn", "hello", LDIF_ENC_AUTO, "cn: hello\n"},
        Case{"cn", "hello\n", LDIF_ENC_AUTO, "cn:: aGVsbG8K\n"},
        Case{"cn", " lead", LDIF_ENC_AUTO, "cn:: IGxlYWQ=\n"},
        Case{"cn", ":x", LDIF_ENC_AUTO, "cn:: Ong=\n"},
        Case{"cn", "<x", LDIF_ENC_AUTO, "cn:: PHg=\n"},
        Case{"cn", "a :<b", LDIF_ENC_AUTO, "cn: a :<b\n"},
        // A trailing space is base64 in every mode that decides: editors and
        // pipelines trim it. A trailing tab is not.
        Case{"cn", "a ", LDIF_ENC_AUTO, "cn:: YSA=\n"},
        Case{"cn", "a ", LDIF_ENC_AUTO8, "cn:: YSA=\n"},
        Case{"cn", "a ", LDIF_ENC_GUESS, "cn:: YSA=\n"},
        Case{"cn", "\xc3\xa9 ", LDIF_ENC_UTF8, "cn:: w6kg\n"},
        Case{"cn", "a ", 17, "cn:: YSA=\n"},
        Case{"cn", "a\t", LDIF_ENC_AUTO, "cn: a\t\n"},
        Case{"url", "file:///a ", LDIF_ENC_URL, "url:< file:///a \n"},
        Case{"cn", "a\rb", LDIF_ENC_AUTO, "cn:: YQ1i\n"},
        Case{"cn", "tab\there\x01", LDIF_ENC_AUTO, "cn: tab\there\x01\n"},
        // Readers strip a leading tab, vertical tab or form feed like a space.
        Case{"cn", "\tx", LDIF_ENC_AUTO, "cn:: CXg=\n"},
        Case{"cn", "\vx", LDIF_ENC_AUTO, "cn:: C3g=\n"},
        Case{"cn", "\fx", LDIF_ENC_AUTO, "cn:: DHg=\n"},
        Case{"cn", "\tx", LDIF_ENC_GUESS, "cn:: CXg=\n"},
        Case{"cn", "\fx", 17, "cn:: DHg=\n"},
        Case{"cn", "\t\xc3\xa9", LDIF_ENC_AUTO8, "cn:: CcOp\n"},
        Case{"cn", "\vx", LDIF_ENC_AUTO8, "cn:: C3g=\n"},
        Case{"cn", "x\t\v\f", LDIF_ENC_AUTO, "cn: x\t\v\f\n"},
        Case{"cn", "\x01x", LDIF_ENC_AUTO, "cn: \x01x\n"},
        Case{"url", "\tx", LDIF_ENC_URL, "url:< \tx\n"},
        Case{"cn", "", LDIF_ENC_AUTO, "cn: \n"},
        Case{"cn", "Jos\xc3\xa9", LDIF_ENC_AUTO, "cn:: Sm9zw6k=\n"},
        Case{"cn", "Jos\xc3\xa9", LDIF_ENC_AUTO8, "cn: Jos\xc3\xa9\n"},
        Case{"cn", "Jos\xc3\xa9", LDIF_ENC_GUESS, "cn:: Sm9zw6k=\n"},
        Case{"cn", "Jos\xc3\xa9", 17, "cn:: Sm9zw6k=\n"},
        Case{"cn", " x\n", LDIF_ENC_AUTO8, "cn:: IHgK\n"},
        Case{"cn", "hello", LDIF_ENC_BASE64, "cn:: aGVsbG8=\n"},
        Case{"cn", "", LDIF_ENC_BASE64, "cn:: \n"},
        Case{"url", "file:///tmp/x", LDIF_ENC_URL, "url:< file:///tmp/x\n"},
        Case{"url", " odd", LDIF_ENC_URL, "url:<  odd\n"},  // never encoded; a line break is refused
        Case{"jpegPhoto;binary", "/9j/4AAQ", LDIF_ENC_AUTO, "jpegPhoto:: /9j/4AAQ\n"},
        // Only the last "binary" option (any case) is left out of the
        // printed name; every other option stays.
        Case{"x;lang-de;binary", "AAAA", LDIF_ENC_AUTO, "x;lang-de:: AAAA\n"},
        Case{"cn;lang-de;binary", "w4Q=", LDIF_ENC_AUTO, "cn;lang-de:: w4Q=\n"},
        Case{"userCertificate;binary;binary", "MIIB", LDIF_ENC_AUTO, "userCertificate;binary:: MIIB\n"},
        Case{"x;binary;lang-en", "AAAA", LDIF_ENC_AUTO, "x;lang-en:: AAAA\n"},
        Case{"x;BINARY", "AAAA", LDIF_ENC_AUTO, "x:: AAAA\n"},
        Case{"x;Binary;binary", "AAAA", LDIF_ENC_AUTO, "x;Binary:: AAAA\n"},
        Case{"x;binaryfoo", "v", LDIF_ENC_AUTO, "x;binaryfoo: v\n"},
        Case{"x;binaryfoo", "\xff", LDIF_ENC_AUTO, "x;binaryfoo:: /w==\n"},
        Case{"x;foobinary;lang", "v", LDIF_ENC_AUTO, "x;foobinary;lang: v\n"},
        Case{"binary", "v", LDIF_ENC_AUTO, "binary: v\n"},
        Case{"x;", "v", LDIF_ENC_AUTO, "x;: v\n"},
        Case{"x;;binary", "AAAA", LDIF_ENC_AUTO, "x;:: AAAA\n"},
        Case{"photo;filename", "file:///tmp/x", LDIF_ENC_AUTO, "photo:< file:///tmp/x\n"},
        Case{"photo;lang-de;FileName", "file:///tmp/x", LDIF_ENC_AUTO, "photo;lang-de:< file:///tmp/x\n"},
        Case{"a;binary;filename", "v", LDIF_ENC_AUTO, "a;filename:: v\n"},
        Case{"cn;lang-en", "v", LDIF_ENC_AUTO, "cn;lang-en: v\n"},
        Case{"", "ignored", LDIF_ENC_AUTO, "\n"},
        Case{nullptr, "ignored", LDIF_ENC_BASE64, "\n"}));

// Records written as entries go through the same rule.
TEST(LdifWrite, RecordValuesBeginningWithBlankControlsAreBase64) {
    ekva_pair **record = ekva_create(4);
    ekva_add(&record, "dn", "x", EKVA_MULTI);
    ekva_add(&record, "description", "\tx", EKVA_MULTI);
    ekva_add(&record, "description", "\fx", EKVA_MULTI);
    char *text = ekva2ldif(record);
    EXPECT_STREQ(text, "dn: x\ndescription:: CXg=\ndescription:: DHg=\n");
    std::free(text);
    ekva_free(record);
}

TEST(LdifWrite, NulInsideTheLengthForcesBase64OverAllBytes) {
    const std::string value("a\0b", 3);
    for (int mode : {0, 2, 4, 9})
        EXPECT_EQ(write1("x", value, mode), "x:: YQBi\n") << mode;
    EXPECT_EQ(write1("x", value, LDIF_ENC_BASE64), "x:: YQBi\n");
    // Without a length the value is the text up to its first NUL.
    EXPECT_EQ(write1("x", value, LDIF_ENC_AUTO, 0), "x: a\n");
    // The URL form never encodes.
    EXPECT_EQ(write1("x", value, LDIF_ENC_URL), "x:< a\n");
}

TEST(LdifWrite, NamesThatWouldCorruptTheLdifAreRefused) {
    // A name beginning with '#' would read back as a comment, its value lost.
    for (const char *name : {"c\nn", "cn\r", "c:n", " cn", "cn:", "#cn", "#", "#cn;binary", "#x;filename"}) {
        char *buffer = static_cast<char *>(std::malloc(11));
        std::memcpy(buffer, "cn: hello\n", 11);
        int count = 10;
        EXPECT_EQ(ldif_write_attr(buffer, &count, name, "v", 1, LDIF_ENC_AUTO), nullptr) << name;
        EXPECT_EQ(count, 10);
        EXPECT_STREQ(buffer, "cn: hello\n");  // still valid, still the caller's
        std::free(buffer);
    }
    EXPECT_EQ(write1("c n ", "v", LDIF_ENC_AUTO), "c n : v\n");  // inner and trailing spaces are fine
    EXPECT_EQ(write1("c#n", "v", LDIF_ENC_AUTO), "c#n: v\n");    // a '#' further on is fine
    EXPECT_EQ(write1("cn;#x", "v", LDIF_ENC_AUTO), "cn;#x: v\n");
}

TEST(LdifWrite, UrlsThatWouldBreakTheLineAreRefused) {
    // Written as it is, a line break would end the line and the rest would
    // read back as another attribute.
    for (const char *url : {"file:///a\ncn: b", "file:///a\r", "\nx"}) {
        char *buffer = static_cast<char *>(std::malloc(11));
        std::memcpy(buffer, "cn: hello\n", 11);
        int count = 10;
        EXPECT_EQ(ldif_write_attr(buffer, &count, "photo", url, 0, LDIF_ENC_URL), nullptr) << url;
        EXPECT_EQ(count, 10);
        EXPECT_STREQ(buffer, "cn: hello\n");
        std::free(buffer);
    }
    EXPECT_EQ(write1("photo", "file:///a b", LDIF_ENC_URL), "photo:< file:///a b\n");
}

TEST(LdifWrite, AppendsDirectlyAfterExistingText) {
    int count = 0;
    char *text = ldif_write_attr(nullptr, &count, "cn", "hello", 5, LDIF_ENC_AUTO);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(count, 10);
    text = ldif_write_attr(text, &count, "sn", "x\n", 2, LDIF_ENC_AUTO);
    ASSERT_NE(text, nullptr);
    text = ldif_write_attr(text, &count, nullptr, nullptr, 0, LDIF_ENC_AUTO);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text, static_cast<size_t>(count)), "cn: hello\nsn:: eAo=\n\n");
    EXPECT_EQ(count, 21);
    std::free(text);
}

TEST(LdifWrite, CountZeroIgnoresThePassedBuffer) {
    char stack_buffer[] = "not a heap buffer";
    int count = 0;
    char *text = ldif_write_attr(stack_buffer, &count, "cn", "v", 1, LDIF_ENC_AUTO);
    ASSERT_NE(text, nullptr);
    EXPECT_NE(text, stack_buffer);
    EXPECT_EQ(std::string(text), "cn: v\n");
    std::free(text);
}

struct FoldCase {
    std::string name;
    size_t value_len;
    int mode;
    std::vector<size_t> line_lengths;  // physical lines, line feeds included
};
class Folding : public testing::TestWithParam<FoldCase> {};

TEST_P(Folding, FoldsAt78) {
    const auto &c = GetParam();
    std::string value;
    for (size_t i = 0; i < c.value_len; ++i) value += static_cast<char>('a' + i % 26);
    const std::string text = write1(c.name.c_str(), value, c.mode);
    std::vector<size_t> lengths;
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        lengths.push_back(nl - start + 1);
        if (start > 0) {
            EXPECT_EQ(text[start], ' ');
        }
    }
    EXPECT_EQ(lengths, c.line_lengths);
    EXPECT_EQ(start, text.size());
    // The line feed and space pairs are the only thing added.
    const std::string logical = unfold(text);
    if (c.mode == LDIF_ENC_AUTO) {
        EXPECT_EQ(logical, c.name + ": " + value + "\n");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, Folding,
    testing::Values(FoldCase{"cn", 73, LDIF_ENC_AUTO, {78}},
                    FoldCase{"cn", 74, LDIF_ENC_AUTO, {78, 3}},
                    FoldCase{"x", 149, LDIF_ENC_AUTO, {78, 77}},
                    FoldCase{"x", 150, LDIF_ENC_AUTO, {78, 78}},
                    FoldCase{"x", 151, LDIF_ENC_AUTO, {78, 78, 3}},
                    FoldCase{"cn", 54, LDIF_ENC_BASE64, {78}},
                    FoldCase{"cn", 55, LDIF_ENC_BASE64, {78, 6}},
                    // Long names: the first line holds the name, ": " and
                    // one character at least, then 76 a line.
                    FoldCase{std::string(74, 'n'), 10, LDIF_ENC_AUTO, {78, 11}},
                    FoldCase{std::string(75, 'n'), 10, LDIF_ENC_AUTO, {79, 11}},
                    FoldCase{std::string(77, 'n'), 1, LDIF_ENC_AUTO, {81}},
                    FoldCase{std::string(200, 'n'), 3, LDIF_ENC_AUTO, {204, 4}}));

TEST(LdifWrite, FoldsBase64ValuesOfAnySizeExactly) {
    std::mt19937 rng(3);
    for (size_t len : {0, 1, 56, 57, 58, 1000, 49151, 49152, 49153, 200001}) {
        std::string value(len, '\0');
        for (auto &b : value) b = static_cast<char>(rng());
        const std::string text = write1("photo", value, LDIF_ENC_BASE64);
        expect_line_lengths_at_most_78(text);
        std::string encoded(base64_encoded_size(len) + 1, '\0');
        const int n = base64_encode(reinterpret_cast<const unsigned char *>(value.data()), len,
                                    encoded.data(), encoded.size());
        ASSERT_GE(n, 0);
        encoded.resize(static_cast<size_t>(n));
        EXPECT_EQ(unfold(text), "photo:: " + encoded + "\n") << len;
    }
}

TEST(LdifWrite, RefusesTextThatWouldNotFitTheCount) {
    // Sizes are checked before the value is read, so a short buffer is enough.
    const char value[4] = "abc";
    int count = 0;
    errno = 0;
    EXPECT_EQ(ldif_write_attr(nullptr, &count, "cn", value, INT_MAX, LDIF_ENC_BASE64), nullptr);
    EXPECT_EQ(errno, EOVERFLOW);
    EXPECT_EQ(count, 0);

    char *buffer = static_cast<char *>(std::malloc(3));
    std::memcpy(buffer, "x\n", 3);
    count = INT_MAX - 5;  // pretend: the check must fire before touching the buffer
    EXPECT_EQ(ldif_write_attr(buffer, &count, "cn", "hello", 5, LDIF_ENC_AUTO), nullptr);
    EXPECT_EQ(count, INT_MAX - 5);
    EXPECT_STREQ(buffer, "x\n");
    std::free(buffer);
}

TEST(LdifWrite, NullCountFails) {
    EXPECT_EQ(ldif_write_attr(nullptr, nullptr, "cn", "v", 1, LDIF_ENC_AUTO), nullptr);
}

class WriterAllocationFailure : public testing::Test {
protected:
    void TearDown() override { kestrin::mem::fail_allocations_after(-1); }
};

TEST_F(WriterAllocationFailure, GrowthFailureKeepsTheCallersBuffer) {
    char *buffer = static_cast<char *>(std::malloc(11));
    std::memcpy(buffer, "cn: hello\n", 11);
    int count = 10;
    kestrin::mem::fail_allocations_after(0);
    EXPECT_EQ(ldif_write_attr(buffer, &count, "sn", "plain", 5, LDIF_ENC_AUTO), nullptr);
    EXPECT_EQ(ldif_write_attr(buffer, &count, nullptr, nullptr, 0, LDIF_ENC_AUTO), nullptr);
    kestrin::mem::fail_allocations_after(1);  // the base64 buffer succeeds, growth fails
    EXPECT_EQ(ldif_write_attr(buffer, &count, "sn", "x\n", 2, LDIF_ENC_AUTO), nullptr);
    kestrin::mem::fail_allocations_after(-1);
    EXPECT_EQ(count, 10);
    EXPECT_STREQ(buffer, "cn: hello\n");
    std::free(buffer);
}

TEST_F(WriterAllocationFailure, Base64BufferFailureReportsAndReleases) {
    char *buffer = static_cast<char *>(std::malloc(11));
    std::memcpy(buffer, "cn: hello\n", 11);
    int count = 10;
    kestrin::mem::fail_allocations_after(0);
    testing::internal::CaptureStderr();
    // The caller's buffer is released on this path; AddressSanitizer reports
    // a leak if it is not.
    EXPECT_EQ(ldif_write_attr(buffer, &count, "sn", "x\n", 2, LDIF_ENC_AUTO), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Failed to allocate base64 buffer\n");
}

TEST(LdifFwrite, WritesTheLineAndReturnsItsLength) {
    char *mem = nullptr;
    size_t size = 0;
    FILE *stream = open_memstream(&mem, &size);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(ldif_fwrite_attr(stream, "cn", "hello", 5, LDIF_ENC_AUTO), 10);
    EXPECT_EQ(ldif_fwrite_attr(stream, "c:n", "hello", 5, LDIF_ENC_AUTO), 0);
    EXPECT_EQ(ldif_fwrite_attr(stream, "#cn", "hello", 5, LDIF_ENC_AUTO), 0);
    EXPECT_EQ(ldif_fwrite_attr(stream, "", "x", 1, LDIF_ENC_AUTO), 1);
    std::fclose(stream);
    EXPECT_EQ(std::string(mem, size), "cn: hello\n\n");
    std::free(mem);
}


// ---- fold width, UTF8 mode and UTF-8 sequences kept whole across folds ----

// The RFC 3629 grammar, literally: the length of the well-formed sequence
// that begins at s[i] and ends inside s (1 for ASCII), or 0.
size_t utf8_len(const std::string &s, size_t i) {
    const auto at = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
    const auto tail = [&](size_t k) { return i + k < s.size() && at(k) >= 0x80 && at(k) <= 0xBF; };
    const auto in = [&](size_t k, unsigned lo, unsigned hi) { return i + k < s.size() && at(k) >= lo && at(k) <= hi; };
    const unsigned c = at(0);
    if (c <= 0x7F) return 1;
    if (c >= 0xC2 && c <= 0xDF) return tail(1) ? 2 : 0;
    if (c == 0xE0) return in(1, 0xA0, 0xBF) && tail(2) ? 3 : 0;
    if ((c >= 0xE1 && c <= 0xEC) || c == 0xEE || c == 0xEF) return tail(1) && tail(2) ? 3 : 0;
    if (c == 0xED) return in(1, 0x80, 0x9F) && tail(2) ? 3 : 0;
    if (c == 0xF0) return in(1, 0x90, 0xBF) && tail(2) && tail(3) ? 4 : 0;
    if (c >= 0xF1 && c <= 0xF3) return tail(1) && tail(2) && tail(3) ? 4 : 0;
    if (c == 0xF4) return in(1, 0x80, 0x8F) && tail(2) && tail(3) ? 4 : 0;
    return 0;
}

std::string b64(const std::string &bytes) {
    static const char a[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 2]);
        out += a[v >> 18 & 63];
        out += a[v >> 12 & 63];
        out += i + 1 < bytes.size() ? a[v >> 6 & 63] : '=';
        out += i + 2 < bytes.size() ? a[v & 63] : '=';
    }
    return out;
}

// The folded line as the rules state it. The line is laid out in units: a
// byte each, except that with keep_utf8 every well-formed multi-byte
// sequence of the value is one unit. A unit goes on the current physical
// line when it fits (`width` characters on the first, a space and width - 1
// on each after), and so do the head and the value's first unit always;
// otherwise a new physical line starts for it, and holds it whole even when
// it does not fit there either. Width 0 never folds.
std::string expected_fold(const std::string &head, const std::string &value, int width, bool keep_utf8) {
    std::vector<std::string> units;
    for (char c : head) units.emplace_back(1, c);
    for (size_t i = 0; i < value.size();) {
        const size_t n = keep_utf8 ? utf8_len(value, i) : 1;
        const size_t take = n >= 2 ? n : 1;
        units.push_back(value.substr(i, take));
        i += take;
    }
    std::string out;
    if (width == 0) {
        for (const auto &u : units) out += u;
        return out + "\n";
    }
    size_t used = 0, room = static_cast<size_t>(width);
    const auto new_line = [&] {
        out += "\n ";
        used = 0;
        room = static_cast<size_t>(width) - 1;
    };
    for (size_t i = 0; i < units.size(); ++i) {
        if (i > head.size() && used + units[i].size() > room) new_line();
        out += units[i];
        used += units[i].size();
    }
    return out + "\n";
}

std::vector<std::string> physical_lines(const std::string &text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        out.push_back(text.substr(start, nl - start));
    EXPECT_EQ(start, text.size()) << "the text does not end in a line feed";
    return out;
}

// ldif_write_attr_wrap on an empty buffer: the text, or nullopt (the count
// and the NUL checked).
std::optional<std::string> write_wrap(const char *name, const std::string &value, int mode, int width,
                                      int value_len = -1) {
    int count = 0;
    char *text = ldif_write_attr_wrap(nullptr, &count, name, value.c_str(),
                                      value_len < 0 ? static_cast<int>(value.size()) : value_len, mode, width);
    if (!text) {
        EXPECT_EQ(count, 0);
        return std::nullopt;
    }
    std::string result(text, static_cast<size_t>(count));
    EXPECT_EQ(text[count], '\0');
    std::free(text);
    return result;
}

// Reads one written line back: its name, value bytes and binary flag.
struct ReadBack {
    bool ok = false;
    std::string name, value;
    int binary = 0;
};
ReadBack read_back(const std::string &text) {
    ReadBack r;
    char *n = nullptr, *v = nullptr;
    int len = 0;
    const char *next = ldif_parse_line(text.c_str(), 0, &n, &v, &len, &r.binary);
    if (!next) return r;
    r.ok = *next == '\0';  // one logical line
    r.name = n;
    r.value.assign(v, static_cast<size_t>(len));
    std::free(n);
    std::free(v);
    return r;
}

struct WidthCase {
    std::string name;
    size_t value_len;
    int mode;  // AUTO (ASCII text) or BASE64 (bytes)
    int width;
};
std::ostream &operator<<(std::ostream &os, const WidthCase &c) {
    return os << "name of " << c.name.size() << ", value of " << c.value_len << ", mode " << c.mode << ", width "
              << c.width;
}

std::string value_of(const WidthCase &c) {
    std::string v;
    for (size_t i = 0; i < c.value_len; ++i)
        v += c.mode == LDIF_ENC_BASE64 ? static_cast<char>(i * 37 + 11) : static_cast<char>('a' + i % 26);
    return v;
}

// Lengths around every place the first folds fall, for each width, name and
// form.
std::vector<WidthCase> width_cases() {
    std::vector<WidthCase> out;
    for (int width : {0, 2, 3, 76, 77, 78, 200}) {
        const size_t w = width == 0 ? 100 : static_cast<size_t>(width);
        // A short name, and names longer than the width (the fold in the name).
        for (const std::string &name : {std::string("cn"), std::string(w + 3, 'n'), std::string(2 * w + 1, 'N')}) {
            for (int mode : {LDIF_ENC_AUTO, LDIF_ENC_BASE64}) {
                const size_t head = name.size() + (mode == LDIF_ENC_BASE64 ? 3 : 2);
                std::set<size_t> lens{0, 1, 2, 3, 5};
                for (size_t k = 0; k < 4; ++k) {
                    const size_t fold = w + k * (w > 1 ? w - 1 : 1);  // where a new physical line starts
                    for (int d = -2; d <= 2; ++d) {
                        const long text = static_cast<long>(fold) - static_cast<long>(head) + d;
                        if (text <= 0) continue;
                        // Base64: the byte counts whose text ends about there.
                        const size_t n = mode == LDIF_ENC_BASE64 ? static_cast<size_t>(text) * 3 / 4
                                                                 : static_cast<size_t>(text);
                        lens.insert(n);
                        if (mode == LDIF_ENC_BASE64) lens.insert(n + 1);
                    }
                }
                for (size_t len : lens) out.push_back({name, len, mode, width});
            }
        }
    }
    return out;
}

class FoldWidths : public testing::TestWithParam<WidthCase> {};

TEST_P(FoldWidths, FoldsAtTheWidth) {
    const auto &c = GetParam();
    const std::string value = value_of(c);
    const bool base64 = c.mode == LDIF_ENC_BASE64;
    const auto text = write_wrap(c.name.c_str(), value, c.mode, c.width);
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, expected_fold(c.name + (base64 ? ":: " : ": "), base64 ? b64(value) : value, c.width, false));
    const auto lines = physical_lines(*text);
    // The first line holds the head and the value's first character at
    // least, so a long name makes it longer than the width.
    const size_t head = c.name.size() + (base64 ? 3 : 2);
    for (size_t i = 0; i < lines.size(); ++i) {
        if (c.width > 0) {
            // Every line but the last is full.
            const size_t full = i == 0 ? std::max(static_cast<size_t>(c.width), head + 1) : static_cast<size_t>(c.width);
            if (i + 1 < lines.size()) {
                EXPECT_EQ(lines[i].size(), full) << i;
            } else {
                EXPECT_LE(lines[i].size(), full);
            }
        }
        if (i > 0) {
            EXPECT_EQ(lines[i][0], ' ');
        }
    }
    if (c.width == 0) {
        EXPECT_EQ(lines.size(), 1u);
    }
    const ReadBack back = read_back(*text);
    EXPECT_TRUE(back.ok);
    EXPECT_EQ(back.name, c.name);
    EXPECT_EQ(back.value, value);
    EXPECT_EQ(back.binary, base64 ? 1 : 0);
    // The default width is 77, byte for byte; and the stream writer writes
    // the same line.
    if (c.width == 77) {
        EXPECT_EQ(*text, write1(c.name.c_str(), value, c.mode));
    }
    char *mem = nullptr;
    size_t size = 0;
    FILE *stream = open_memstream(&mem, &size);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(ldif_fwrite_attr_wrap(stream, c.name.c_str(), value.c_str(), static_cast<int>(value.size()), c.mode,
                                    c.width),
              static_cast<int>(text->size()));
    std::fclose(stream);
    EXPECT_EQ(std::string(mem, size), *text);
    std::free(mem);
}

INSTANTIATE_TEST_SUITE_P(Table, FoldWidths, testing::ValuesIn(width_cases()));

struct ExactCase {
    const char *name;
    std::string value;
    int mode;
    int width;
    std::string expected;
};
class WrapExact : public testing::TestWithParam<ExactCase> {};

TEST_P(WrapExact, WritesExactText) {
    const auto &c = GetParam();
    EXPECT_EQ(write_wrap(c.name, c.value, c.mode, c.width), c.expected);
    // Every one reads back to the same bytes.
    const ReadBack back = read_back(c.expected);
    EXPECT_TRUE(back.ok);
    EXPECT_EQ(back.value, c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Short, WrapExact,
    testing::Values(
        // The smallest widths and long names: the first line never ends
        // before the name, the separator and the value's first character;
        // every other holds a space and width - 1.
        ExactCase{"cn", "abc", LDIF_ENC_AUTO, 2, "cn: a\n b\n c\n"},
        ExactCase{"cn", "abcd", LDIF_ENC_AUTO, 3, "cn: a\n bc\n d\n"},
        ExactCase{"cn", "hello", LDIF_ENC_BASE64, 5, "cn:: a\n GVsb\n G8=\n"},
        ExactCase{"dn", "cn=t", LDIF_ENC_AUTO, 2, "dn: c\n n\n =\n t\n"},
        ExactCase{"description", "AAAAAAAAAAAA", LDIF_ENC_AUTO, 10, "description: A\n AAAAAAAAA\n AA\n"},
        ExactCase{"userCertificate;binary", "\x30\x82", LDIF_ENC_BASE64, 10, "userCertificate:: M\n II=\n"},
        ExactCase{"cn", "abcdefghij", LDIF_ENC_AUTO, 0, "cn: abcdefghij\n"},
        ExactCase{"cn", std::string(300, 'x'), LDIF_ENC_AUTO, 0, "cn: " + std::string(300, 'x') + "\n"},
        ExactCase{"cn", "abcdef", LDIF_ENC_AUTO, 10, "cn: abcdef\n"},  // exactly full: no fold
        ExactCase{"cn", "abcdefg", LDIF_ENC_AUTO, 10, "cn: abcdef\n g\n"},
        // A sequence that a fold would cut starts the next line instead.
        ExactCase{"cn", "abcde\xc3\xa9" "fgh", LDIF_ENC_AUTO8, 10, "cn: abcde\n \xc3\xa9" "fgh\n"},
        ExactCase{"cn", "abcde\xc3\xa9" "fgh", LDIF_ENC_UTF8, 10, "cn: abcde\n \xc3\xa9" "fgh\n"},
        ExactCase{"cn", "abcd\xe2\x82\xac" "xyz", LDIF_ENC_AUTO8, 10, "cn: abcd\n \xe2\x82\xac" "xyz\n"},
        ExactCase{"cn", "abcde\xe2\x82\xac" "xyz", LDIF_ENC_UTF8, 10, "cn: abcde\n \xe2\x82\xac" "xyz\n"},
        ExactCase{"cn", "abc\xf0\x9f\x98\x80" "x", LDIF_ENC_UTF8, 10, "cn: abc\n \xf0\x9f\x98\x80" "x\n"},
        ExactCase{"cn", "abcde\xf0\x9f\x98\x80" "x", LDIF_ENC_AUTO8, 10, "cn: abcde\n \xf0\x9f\x98\x80" "x\n"},
        // Ending exactly at the fold: nothing moves.
        ExactCase{"cn", "abcd\xc3\xa9" "fgh", LDIF_ENC_AUTO8, 10, "cn: abcd\xc3\xa9\n fgh\n"},
        ExactCase{"cn", "abcdef\xc3\xa9", LDIF_ENC_AUTO8, 10, "cn: abcdef\n \xc3\xa9\n"},
        // The same values in other modes are cut, or base64.
        ExactCase{"cn", "abcde\xc3\xa9" "fgh", LDIF_ENC_AUTO, 10, "cn:: YWJjZ\n GXDqWZnaA\n ==\n"},
        // On a continuation line too: "cn: " + 9 = 13 characters, then 9 more.
        ExactCase{"cn", "abcdef" "ghijklmno" "\xe2\x82\xac" "z", LDIF_ENC_UTF8, 10,
                  "cn: abcdef\n ghijklmno\n \xe2\x82\xac" "z\n"},
        ExactCase{"cn", "abcdef" "ghijklmn" "\xe2\x82\xac" "z", LDIF_ENC_UTF8, 10,
                  "cn: abcdef\n ghijklmn\n \xe2\x82\xac" "z\n"},
        // Width 3: a 2-byte sequence fits a continuation line; at width 2,
        // or for a longer sequence, the line holds it whole anyway: up to 3
        // characters longer than the width.
        // cannot, and it begins its line, so it is cut.
        ExactCase{"a", "xy\xc3\xa9", LDIF_ENC_AUTO8, 3, "a: x\n y\n \xc3\xa9\n"},
        ExactCase{"a", "x\xc3\xa9y", LDIF_ENC_AUTO8, 2, "a: x\n \xc3\xa9\n y\n"},
        ExactCase{"a", "x\xe2\x82\xac", LDIF_ENC_UTF8, 3, "a: x\n \xe2\x82\xac\n"},
        ExactCase{"a", "x\xf0\x9f\x98\x80", LDIF_ENC_UTF8, 2, "a: x\n \xf0\x9f\x98\x80\n"},
        ExactCase{"a", "xy\xf0\x9f\x98\x80", LDIF_ENC_UTF8, 4, "a: x\n y\n \xf0\x9f\x98\x80\n"},
        // The value's first character stays on the first line, whole.
        ExactCase{"a", "\xe2\x82\xac" "x", LDIF_ENC_UTF8, 2, "a: \xe2\x82\xac\n x\n"},
        ExactCase{"cn", "\xf0\x9f\x98\x80\xe6\x97\xa5", LDIF_ENC_AUTO8, 5, "cn: \xf0\x9f\x98\x80\n \xe6\x97\xa5\n"},
        // Malformed bytes in AUTO8 are folded as they are.
        ExactCase{"cn", "abcde\xc3" "fgh", LDIF_ENC_AUTO8, 10, "cn: abcde\xc3\n fgh\n"},
        ExactCase{"cn", "abcde\xe2\x82", LDIF_ENC_AUTO8, 10, "cn: abcde\xe2\n \x82\n"},  // truncated at the end
        ExactCase{"cn", "abcde\xc0\x80" "x", LDIF_ENC_AUTO8, 10, "cn: abcde\xc0\n \x80x\n"},
        ExactCase{"cn", "abcde\xed\xa0\x80" "x", LDIF_ENC_AUTO8, 10, "cn: abcde\xed\n \xa0\x80x\n"},
        ExactCase{"cn", "abcd\xf4\x90\x80\x80" "x", LDIF_ENC_AUTO8, 10, "cn: abcd\xf4\x90\n \x80\x80x\n"},
        ExactCase{"cn", "abcd\xc3\xa9\xa9" "x", LDIF_ENC_AUTO8, 10, "cn: abcd\xc3\xa9\n \xa9x\n"},
        ExactCase{"cn", "abcde\xc3\xa9\xa9" "x", LDIF_ENC_AUTO8, 10, "cn: abcde\n \xc3\xa9\xa9x\n"}));

TEST(LdifWriteWrap, Width77IsLdifWriteAttr) {
    const std::string e = "\xc3\xa9", euro = "\xe2\x82\xac", smile = "\xf0\x9f\x98\x80";
    const std::vector<std::string> values{
        "", "hello", std::string(73, 'a'), std::string(74, 'a'), std::string(400, 'q'),
        std::string(72, 'a') + e + "tail",  std::string(71, 'a') + euro + std::string(80, 'b'),
        std::string(70, 'a') + smile + smile + smile, " lead" + e, "x\ny", std::string(100, '\xff')};
    for (const std::string &name : {std::string("cn"), std::string("cn;lang-de"), std::string(90, 'n'),
                                    std::string("photo;binary")})
        for (int mode : std::vector<int>{LDIF_ENC_AUTO, LDIF_ENC_BASE64, LDIF_ENC_AUTO8, LDIF_ENC_URL,
                                         LDIF_ENC_GUESS, LDIF_ENC_UTF8, 17})
            for (const auto &v : values) {
                if (mode == LDIF_ENC_URL && v.find('\n') != std::string::npos) continue;
                // Appended to text already there, as ldif_write_attr does.
                int count_a = 9, count_b = 9;
                char *a = static_cast<char *>(std::malloc(10));
                char *b = static_cast<char *>(std::malloc(10));
                std::memcpy(a, "dn: cn=x\n", 10);
                std::memcpy(b, "dn: cn=x\n", 10);
                a = ldif_write_attr(a, &count_a, name.c_str(), v.c_str(), static_cast<int>(v.size()), mode);
                b = ldif_write_attr_wrap(b, &count_b, name.c_str(), v.c_str(), static_cast<int>(v.size()), mode, 77);
                ASSERT_NE(a, nullptr);
                ASSERT_NE(b, nullptr);
                EXPECT_EQ(std::string(a, static_cast<size_t>(count_a)), std::string(b, static_cast<size_t>(count_b)))
                    << name << " " << mode << " " << v;
                std::free(a);
                std::free(b);
            }
}

class RefusedWidth : public testing::TestWithParam<int> {};

TEST_P(RefusedWidth, FailsWithEinvalAndLeavesTheBuffer) {
    const int width = GetParam();
    for (const char *name : {"cn", "", static_cast<const char *>(nullptr)}) {
        char *buffer = static_cast<char *>(std::malloc(11));
        std::memcpy(buffer, "cn: hello\n", 11);
        int count = 10;
        errno = 0;
        EXPECT_EQ(ldif_write_attr_wrap(buffer, &count, name, "v", 1, LDIF_ENC_AUTO, width), nullptr);
        EXPECT_EQ(errno, EINVAL);
        EXPECT_EQ(count, 10);
        EXPECT_STREQ(buffer, "cn: hello\n");  // still valid, still the caller's
        std::free(buffer);
    }
    int count = 0;
    errno = 0;
    EXPECT_EQ(ldif_write_attr_wrap(nullptr, &count, "cn", "v", 1, LDIF_ENC_BASE64, width), nullptr);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(count, 0);

    char *mem = nullptr;
    size_t size = 0;
    FILE *stream = open_memstream(&mem, &size);
    ASSERT_NE(stream, nullptr);
    errno = 0;
    EXPECT_EQ(ldif_fwrite_attr_wrap(stream, "cn", "v", 1, LDIF_ENC_AUTO, width), 0);
    EXPECT_EQ(errno, EINVAL);
    std::fclose(stream);
    EXPECT_EQ(size, 0u);
    std::free(mem);

    ekva_pair **record = ekva_create(4);
    ekva_add(&record, "dn", "cn=x", EKVA_MULTI);
    ekva_add(&record, "cn", "x", EKVA_MULTI);
    errno = 0;
    EXPECT_EQ(ekva2ldif_wrap(record, width), nullptr);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(ekva_get(record, "cn"), std::string("x"));  // the record is untouched
    ekva_free(record);
}

INSTANTIATE_TEST_SUITE_P(OneAndNegative, RefusedWidth, testing::Values(1, -1, -2, -77, INT_MIN));

TEST(LdifWriteWrap, WidthTwoIsTheSmallestAccepted) {
    EXPECT_EQ(write_wrap("cn", "v", LDIF_ENC_AUTO, 2), "cn: v\n");
    EXPECT_EQ(write_wrap("", "v", LDIF_ENC_AUTO, 2), "\n");
    EXPECT_EQ(write_wrap("cn", "v", LDIF_ENC_AUTO, INT_MAX), "cn: v\n");
}

class Ekva2LdifWrap : public testing::TestWithParam<int> {};

TEST_P(Ekva2LdifWrap, FoldsEveryLineAndReadsBackAsTheRecord) {
    const int width = GetParam();
    // A dn whose UTF-8 straddles folds at these widths (AUTO8 keeps it whole).
    std::string dn = "cn=J\xc3\xbcrgen M\xc3\xbcller";
    for (int i = 0; i < 30; ++i) dn += i % 2 ? "\xe2\x82\xac" : "\xf0\x9f\x98\x80";
    dn += ",ou=people,dc=example,dc=org";
    const std::string description(181, 'd');
    ekva_pair **record = ekva_create(8);
    ekva_add(&record, "dn", dn.c_str(), EKVA_MULTI);
    ekva_add(&record, "description", description.c_str(), EKVA_MULTI);
    ekva_add(&record, "sn", "M\xc3\xbcller", EKVA_MULTI);  // AUTO: base64
    ekva_add(&record, "jpegPhoto;binary", "/9j/4AAQSkZJRgABAQEASABIAAD/2wBDAAMCAgMCAgMDAwMEAwMEBQgFBQQEBQoHBwYI",
             EKVA_MULTI);
    ekva_add(&record, "-", "", EKVA_MULTI);
    const std::string lines_wanted =
        expected_fold("dn: ", dn, width, true) + expected_fold("description: ", description, width, false) +
        expected_fold("sn:: ", b64("M\xc3\xbcller"), width, false) +
        expected_fold("jpegPhoto:: ", "/9j/4AAQSkZJRgABAQEASABIAAD/2wBDAAMCAgMCAgMDAwMEAwMEBQgFBQQEBQoHBwYI", width,
                      false) +
        "-\n";
    char *wrapped = ekva2ldif_wrap(record, width);
    char *plain = ekva2ldif(record);
    ASSERT_NE(wrapped, nullptr);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(std::string(wrapped), lines_wanted);
    if (width == 77) {
        EXPECT_STREQ(wrapped, plain);
    }
    EXPECT_EQ(unfold(wrapped), unfold(plain));  // only the folds differ
    for (const auto &line : physical_lines(wrapped)) {
        // Longer than the width only to hold a name, its separator and a
        // first character ("description: d"), or a UTF-8 sequence whole.
        if (width > 0) {
            EXPECT_LE(line.size(), line[0] == ' ' ? static_cast<size_t>(width) + 3 : std::max<size_t>(width, 14));
        }
    }
    if (width == 0) {
        EXPECT_EQ(physical_lines(wrapped).size(), 5u);
    }
    ekva_pair **back = ldif2ekva(wrapped, 0);
    ekva_pair **back_plain = ldif2ekva(plain, 0);
    ASSERT_NE(back, nullptr);
    ASSERT_NE(back_plain, nullptr);
    ASSERT_EQ(ekva_count(back), ekva_count(back_plain));
    EXPECT_STREQ(ekva_get(back, "dn"), dn.c_str());
    EXPECT_STREQ(ekva_get(back, "description"), description.c_str());
    EXPECT_STREQ(ekva_get(back, "sn;binary"), b64("M\xc3\xbcller").c_str());
    EXPECT_STREQ(ekva_get(back, "jpegPhoto;binary"),
                 "/9j/4AAQSkZJRgABAQEASABIAAD/2wBDAAMCAgMCAgMDAwMEAwMEBQgFBQQEBQoHBwYI");
    for (const char *key : {"dn", "description", "sn;binary", "jpegPhoto;binary", "-"}) {
        ASSERT_NE(ekva_get(back, key), nullptr) << key;
        EXPECT_STREQ(ekva_get(back, key), ekva_get(back_plain, key)) << key;
    }
    std::free(wrapped);
    std::free(plain);
    ekva_free(back);
    ekva_free(back_plain);
    ekva_free(record);
}

INSTANTIATE_TEST_SUITE_P(Widths, Ekva2LdifWrap, testing::Values(0, 2, 3, 10, 76, 77, 78, 200));

TEST(LdifWriteWrap, Ekva2LdifWrapOfNoRecordIsNull) {
    EXPECT_EQ(ekva2ldif_wrap(nullptr, 77), nullptr);
    EXPECT_EQ(ekva2ldif_wrap(nullptr, 0), nullptr);
}

struct Utf8Case {
    std::string value;
    int mode;
    bool plain;
    int value_len = -1;  // -1: the whole value
};
std::ostream &operator<<(std::ostream &os, const Utf8Case &c) {
    os << "mode " << c.mode << ", value";
    for (unsigned char ch : c.value) os << ' ' << std::hex << static_cast<int>(ch) << std::dec;
    return os;
}
class Utf8Mode : public testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Mode, WritesPlainOnlyWhatIsSafe) {
    const auto &c = GetParam();
    const std::string bytes = c.value_len < 0 ? c.value : c.value.substr(0, static_cast<size_t>(c.value_len));
    const std::string text = c.value_len == 0 ? std::string(c.value.c_str()) : bytes;
    EXPECT_EQ(unfold(write1("x", c.value, c.mode, c.value_len)),
              c.plain ? "x: " + text + "\n" : "x:: " + b64(text) + "\n");
}

const std::string kE = "\xc3\xa9", kEuro = "\xe2\x82\xac", kSmile = "\xf0\x9f\x98\x80";

INSTANTIATE_TEST_SUITE_P(
    Decisions, Utf8Mode,
    testing::Values(
        // Well-formed: 2, 3 and 4 bytes, and the ends of each range.
        Utf8Case{"Jos" + kE, LDIF_ENC_UTF8, true}, Utf8Case{kEuro + "5", LDIF_ENC_UTF8, true},
        Utf8Case{"a" + kSmile + "b", LDIF_ENC_UTF8, true},
        Utf8Case{"J\xc3\xbcrgen " + kEuro + kSmile + kE, LDIF_ENC_UTF8, true},
        Utf8Case{"\xc2\x80", LDIF_ENC_UTF8, true}, Utf8Case{"\xdf\xbf", LDIF_ENC_UTF8, true},
        Utf8Case{"\xe0\xa0\x80", LDIF_ENC_UTF8, true}, Utf8Case{"\xed\x9f\xbf", LDIF_ENC_UTF8, true},
        Utf8Case{"\xee\x80\x80", LDIF_ENC_UTF8, true}, Utf8Case{"\xef\xbf\xbf", LDIF_ENC_UTF8, true},
        Utf8Case{"\xf0\x90\x80\x80", LDIF_ENC_UTF8, true}, Utf8Case{"\xf4\x8f\xbf\xbf", LDIF_ENC_UTF8, true},
        Utf8Case{std::string(100, 'a') + kSmile + std::string(100, 'b'), LDIF_ENC_UTF8, true},
        // Overlong forms.
        Utf8Case{"\xc0\x80", LDIF_ENC_UTF8, false}, Utf8Case{"a\xc1\xbf", LDIF_ENC_UTF8, false},
        Utf8Case{"\xe0\x80\x80", LDIF_ENC_UTF8, false}, Utf8Case{"\xe0\x9f\xbf", LDIF_ENC_UTF8, false},
        Utf8Case{"\xf0\x80\x80\x80", LDIF_ENC_UTF8, false}, Utf8Case{"\xf0\x8f\xbf\xbf", LDIF_ENC_UTF8, false},
        // Surrogates.
        Utf8Case{"\xed\xa0\x80", LDIF_ENC_UTF8, false}, Utf8Case{"a\xed\xbf\xbf" "b", LDIF_ENC_UTF8, false},
        // Above U+10FFFF.
        Utf8Case{"\xf4\x90\x80\x80", LDIF_ENC_UTF8, false}, Utf8Case{"\xf5\x80\x80\x80", LDIF_ENC_UTF8, false},
        Utf8Case{"\xf7\xbf\xbf\xbf", LDIF_ENC_UTF8, false}, Utf8Case{"\xf8\x88\x80\x80\x80", LDIF_ENC_UTF8, false},
        // Truncated at the end and in the middle.
        Utf8Case{"ab\xc3", LDIF_ENC_UTF8, false}, Utf8Case{"ab\xe2\x82", LDIF_ENC_UTF8, false},
        Utf8Case{"ab\xf0\x9f\x98", LDIF_ENC_UTF8, false}, Utf8Case{"\xe2", LDIF_ENC_UTF8, false},
        Utf8Case{"a\xc3" "b", LDIF_ENC_UTF8, false}, Utf8Case{"a\xe2\x82" "b", LDIF_ENC_UTF8, false},
        Utf8Case{"a\xf0\x9f\x98" "b", LDIF_ENC_UTF8, false}, Utf8Case{"\xc3\xc3\xa9", LDIF_ENC_UTF8, false},
        Utf8Case{"\xe2\x82" + kE, LDIF_ENC_UTF8, false},
        // Stray continuation bytes.
        Utf8Case{"a\x80" "b", LDIF_ENC_UTF8, false}, Utf8Case{"\xbf", LDIF_ENC_UTF8, false},
        Utf8Case{kE + "\xa9", LDIF_ENC_UTF8, false}, Utf8Case{kSmile + "\x80", LDIF_ENC_UTF8, false},
        // Bytes never in UTF-8.
        Utf8Case{"a\xfe", LDIF_ENC_UTF8, false}, Utf8Case{"\xff" "b", LDIF_ENC_UTF8, false},
        Utf8Case{"\xc1\x81", LDIF_ENC_UTF8, false},
        // Every other rule still holds.
        Utf8Case{" " + kE, LDIF_ENC_UTF8, false}, Utf8Case{":" + kE, LDIF_ENC_UTF8, false},
        Utf8Case{"<" + kE, LDIF_ENC_UTF8, false}, Utf8Case{"\t" + kE, LDIF_ENC_UTF8, false},
        Utf8Case{"\v" + kE, LDIF_ENC_UTF8, false}, Utf8Case{"\f" + kE, LDIF_ENC_UTF8, false},
        Utf8Case{kE + "\n", LDIF_ENC_UTF8, false}, Utf8Case{kE + "\rx", LDIF_ENC_UTF8, false},
        Utf8Case{kE + std::string("\0x", 2), LDIF_ENC_UTF8, false},   // a NUL inside the length: all bytes
        Utf8Case{kE + std::string("\0\xff", 2), LDIF_ENC_UTF8, true, 0},  // no length: the text up to the NUL
        Utf8Case{"a " + kE + ":<\t", LDIF_ENC_UTF8, true}, Utf8Case{"", LDIF_ENC_UTF8, true},
        // AUTO8 takes any high byte, AUTO and GUESS none.
        Utf8Case{"\xc0\x80", LDIF_ENC_AUTO8, true}, Utf8Case{"ab\xe2\x82", LDIF_ENC_AUTO8, true},
        Utf8Case{" " + kE, LDIF_ENC_AUTO8, false}, Utf8Case{kE, LDIF_ENC_AUTO, false},
        Utf8Case{kE, LDIF_ENC_GUESS, false}, Utf8Case{kE, 17, false}));

TEST(LdifWriteWrap, Utf8ModeOnABinaryOptionAndAStream) {
    // A ";binary" name takes "::" whatever the value's form.
    EXPECT_EQ(write1("x;binary", "w6k=", LDIF_ENC_UTF8), "x:: w6k=\n");
    EXPECT_EQ(write1("x;binary", kE, LDIF_ENC_UTF8), "x:: " + kE + "\n");
    EXPECT_EQ(write1("x;binary", "\xff", LDIF_ENC_UTF8), "x:: /w==\n");
    // ldif_fwrite_attr takes the mode too.
    char *mem = nullptr;
    size_t size = 0;
    FILE *stream = open_memstream(&mem, &size);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(ldif_fwrite_attr(stream, "cn", kE.c_str(), 2, LDIF_ENC_UTF8), 7);
    EXPECT_EQ(ldif_fwrite_attr(stream, "cn", "\xc3", 1, LDIF_ENC_UTF8), 10);
    std::fclose(stream);
    EXPECT_EQ(std::string(mem, size), "cn: " + kE + "\ncn:: ww==\n");
    std::free(mem);
}

// The UTF-8 fold rule: a character of 2, 3 or 4 bytes placed at every offset
// around the first and the second fold.
struct StraddleCase {
    std::string ch;
    int mode;
    int width;
    size_t before;  // ASCII characters in the value before it
};
std::ostream &operator<<(std::ostream &os, const StraddleCase &c) {
    return os << c.ch.size() << "-byte character after " << c.before << ", mode " << c.mode << ", width "
              << c.width;
}

std::vector<StraddleCase> straddle_cases(const std::vector<std::string> &chars, const std::vector<int> &modes) {
    std::vector<StraddleCase> out;
    for (const std::string &ch : chars)
        for (int mode : modes)
            for (int width : {77, 10, 5, 4, 3, 2}) {
                const size_t w = static_cast<size_t>(width);
                const size_t head = 4;  // "cn: "
                std::set<size_t> befores;
                // The fold after byte 1, 2, 3 of the sequence, and just
                // before and after it, at the first and the second fold.
                for (size_t fold : {w, 2 * w - 1, 3 * w - 2})
                    for (size_t k = 0; k <= ch.size() + 1; ++k)
                        if (fold + 1 >= head + k && fold + 1 - head - k < 4 * w) befores.insert(fold + 1 - head - k);
                for (size_t b = 0; b < 6; ++b) befores.insert(b);
                for (size_t b : befores) out.push_back({ch, mode, width, b});
            }
    return out;
}

// Where each byte of the written text's value lies: for the i-th byte of the
// unfolded line, its physical line and its place in that line's text.
struct Place {
    size_t line, column;
};
std::vector<Place> places(const std::string &text) {
    std::vector<Place> out;
    size_t line = 0, column = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            if (i + 1 < text.size() && text[i + 1] == ' ') ++i;
            ++line;
            column = 0;
            continue;
        }
        out.push_back({line, column++});
    }
    return out;
}

class Utf8Folds : public testing::TestWithParam<StraddleCase> {};

TEST_P(Utf8Folds, NeverCutsASequence) {
    const auto &c = GetParam();
    for (const std::string &value : {std::string(c.before, 'a') + c.ch + "bcd",
                                     std::string(c.before, 'a') + c.ch + c.ch + c.ch + "z",
                                     std::string(c.before, 'a') + c.ch}) {
        const auto text = write_wrap("cn", value, c.mode, c.width);
        ASSERT_TRUE(text);
        EXPECT_EQ(*text, expected_fold("cn: ", value, c.width, true));
        const auto lines = physical_lines(*text);
        const size_t w = static_cast<size_t>(c.width);
        const std::vector<Place> at = places(*text);
        ASSERT_EQ(at.size(), 4 + value.size());
        size_t line_begins = 0;  // the unfolded index of the first byte of line i + 1
        for (size_t i = 0; i < lines.size(); ++i) {
            // Longer than the width only to hold a sequence whole: the
            // value's first, or one that begins a continuation line.
            const size_t first_unit = utf8_len(value, i == 0 ? 0 : line_begins - 4);
            EXPECT_LE(lines[i].size(), std::max(w, (i == 0 ? 4 : 1) + first_unit)) << i;
            line_begins += lines[i].size() - (i > 0 ? 1 : 0);
            if (i + 1 < lines.size() && lines[i].size() < w) {
                // Shorter only when the fold moved back to a sequence's start
                // (never further): the next line begins with one that did
                // not fit.
                ASSERT_GE(line_begins, 4u);
                const size_t n = utf8_len(value, line_begins - 4);
                EXPECT_GE(n, 2u) << "line " << i << " is short without cause";
                EXPECT_GT(lines[i].size() + n, w) << "line " << i << " had room for the sequence";
            }
        }
        // No well-formed sequence is cut.
        for (size_t i = 0; i < value.size();) {
            const size_t n = utf8_len(value, i);
            ASSERT_GE(n, 1u);
            EXPECT_EQ(at[4 + i].line, at[4 + i + n - 1].line) << "sequence at " << i << " cut";
            i += n;
        }
        const ReadBack back = read_back(*text);
        EXPECT_TRUE(back.ok);
        EXPECT_EQ(back.name, "cn");
        EXPECT_EQ(back.value, value);
        EXPECT_EQ(back.binary, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryOffset, Utf8Folds,
                         testing::ValuesIn(straddle_cases({kE, kEuro, kSmile, "\xf4\x8f\xbf\xbf"},
                                                          {LDIF_ENC_AUTO8, LDIF_ENC_UTF8})));

// In AUTO8 bytes that are no well-formed sequence (a lone lead byte,
// truncated, overlong, a surrogate, above U+10FFFF, stray continuation
// bytes) are folded where the width falls, as ASCII is: every line but the
// last full (the first holds "cn: " and a byte at least).
class MalformedFolds : public testing::TestWithParam<StraddleCase> {};

TEST_P(MalformedFolds, FoldAsPlainBytes) {
    const auto &c = GetParam();
    for (const std::string &value : {std::string(c.before, 'a') + c.ch + "bcd", std::string(c.before, 'a') + c.ch}) {
        const auto text = write_wrap("cn", value, c.mode, c.width);
        ASSERT_TRUE(text);
        EXPECT_EQ(*text, expected_fold("cn: ", value, c.width, false));
        const auto lines = physical_lines(*text);
        for (size_t i = 0; i + 1 < lines.size(); ++i)
            EXPECT_EQ(lines[i].size(), i == 0 ? std::max(c.width, 5) : c.width) << i;
        const ReadBack back = read_back(*text);
        EXPECT_TRUE(back.ok);
        EXPECT_EQ(back.value, value);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryOffset, MalformedFolds,
                         testing::ValuesIn(straddle_cases({"\xc3", "\xe2\x82", "\xf0\x9f\x98", "\xc0\x80",
                                                           "\xe0\x80\x80", "\xed\xa0\x80", "\xf4\x90\x80\x80",
                                                           "\xf5\x80\x80\x80", "\x80\xbf\x80", "\xfe\xff"},
                                                          {LDIF_ENC_AUTO8})));

TEST(LdifWriteWrap, AbsentValueInTheModesThatKeepUtf8) {
    // No value at all is the empty value; the UTF-8 folding has no bytes to
    // look at (the sanitizer builds check that none are read).
    for (int mode : {LDIF_ENC_AUTO8, LDIF_ENC_UTF8})
        for (const auto &[width, expected] : std::vector<std::pair<int, std::string>>{
                 {77, "cn: \n"}, {0, "cn: \n"}, {2, "cn: \n"}, {3, "cn: \n"}}) {
            int count = 0;
            char *text = ldif_write_attr_wrap(nullptr, &count, "cn", nullptr, 0, mode, width);
            ASSERT_NE(text, nullptr) << mode << " " << width;
            EXPECT_EQ(std::string(text, static_cast<size_t>(count)), expected) << mode << " " << width;
            std::free(text);
        }
}

TEST(LdifWriteWrap, AsciiAndBase64FoldTheSameInEveryMode) {
    for (int width : {2, 3, 5, 10, 76, 77, 78, 200}) {
        for (size_t len : {1, 7, 20, 75, 76, 77, 150, 151, 152, 400}) {
            std::string ascii;
            for (size_t i = 0; i < len; ++i) ascii += static_cast<char>('A' + i % 26);
            const auto base = write_wrap("cn", ascii, LDIF_ENC_AUTO, width);
            ASSERT_TRUE(base);
            EXPECT_EQ(write_wrap("cn", ascii, LDIF_ENC_AUTO8, width), base) << width << " " << len;
            EXPECT_EQ(write_wrap("cn", ascii, LDIF_ENC_UTF8, width), base) << width << " " << len;
            // A value that must be base64 holds UTF-8: its text folds as
            // BASE64 does (full lines), whatever the mode.
            std::string high = " ";
            while (high.size() < len) high += kEuro;
            const auto b = write_wrap("cn", high, LDIF_ENC_BASE64, width);
            ASSERT_TRUE(b);
            EXPECT_EQ(*b, expected_fold("cn:: ", b64(high), width, false));
            for (int mode : {LDIF_ENC_AUTO, LDIF_ENC_AUTO8, LDIF_ENC_UTF8})
                EXPECT_EQ(write_wrap("cn", high, mode, width), b) << mode << " " << width << " " << len;
        }
    }
}

TEST(LdifWriteWrap, OnlyTheValuesSequencesAreKeptWhole) {
    // A name is never folded, whatever the width.
    EXPECT_EQ(write_wrap("abcdefghi\xc3\xa9", "vw", LDIF_ENC_UTF8, 10), "abcdefghi\xc3\xa9: v\n w\n");
    // A URL is written as it is, its bytes folded where the width falls.
    EXPECT_EQ(write_wrap("u", "file://\xc3\xa9", LDIF_ENC_URL, 12), "u:< file://\xc3\n \xa9\n");
}

}  // namespace
