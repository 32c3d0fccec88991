#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

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
        Case{"cn", "a :<b ", LDIF_ENC_AUTO, "cn: a :<b \n"},
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
                    // Long names: the first 77 characters of the line, then 76 a line.
                    FoldCase{std::string(75, 'n'), 10, LDIF_ENC_AUTO, {78, 12}},
                    FoldCase{std::string(77, 'n'), 1, LDIF_ENC_AUTO, {78, 5}},
                    FoldCase{std::string(200, 'n'), 3, LDIF_ENC_AUTO, {78, 78, 54}}));

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

}  // namespace
