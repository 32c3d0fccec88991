#include "codec/hex.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include "util/alloc_internal.h"

namespace {

std::string encode(const std::string &bytes) {
    char *text = hex_encode(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size());
    if (!text) return "(null)";
    std::string s(text);
    std::free(text);
    return s;
}

TEST(HexEncode, UpperCaseTwoDigitsPerByte) {
    EXPECT_EQ(encode(std::string("\x00\xab\xff", 3)), "00ABFF");
    EXPECT_EQ(hex_encode(nullptr, 3), nullptr);
    EXPECT_EQ(hex_encode(reinterpret_cast<const unsigned char *>("x"), 0), nullptr);
}

TEST(HexDigitValue, BothCasesOnly) {
    unsigned char v = 99;
    for (char c : std::string("0123456789")) {
        ASSERT_EQ(hex_digit_value(c, &v), 1);
        EXPECT_EQ(v, c - '0');
    }
    for (int i = 0; i < 6; ++i) {
        ASSERT_EQ(hex_digit_value(static_cast<char>('a' + i), &v), 1);
        EXPECT_EQ(v, 10 + i);
        ASSERT_EQ(hex_digit_value(static_cast<char>('A' + i), &v), 1);
        EXPECT_EQ(v, 10 + i);
    }
    v = 99;
    for (char c : {'g', 'G', ' ', 'x', '\0', '/', ':', '@', '`'}) EXPECT_EQ(hex_digit_value(c, &v), 0) << c;
    EXPECT_EQ(v, 99);  // nothing stored
    EXPECT_EQ(hex_digit_value('a', nullptr), 0);
}

TEST(HexDecode, Success) {
    unsigned char *out = nullptr;
    ASSERT_EQ(hex_decode("0aFf", &out), 2u);
    EXPECT_EQ(out[0], 0x0A);
    EXPECT_EQ(out[1], 0xFF);
    std::free(out);
}

TEST(HexDecode, RefusalsAllocateNothing) {
    unsigned char sentinel = 0;
    unsigned char *out = &sentinel;
    EXPECT_EQ(hex_decode("abc", &out), 0u);
    EXPECT_EQ(hex_decode("", &out), 0u);
    EXPECT_EQ(hex_decode(nullptr, &out), 0u);
    EXPECT_EQ(out, &sentinel);
    EXPECT_EQ(hex_decode("00", nullptr), 0u);
}

// A bad pair anywhere, also inside a vector block: bytes before it decoded,
// the rest 0x41, and the buffer handed over.
TEST(HexDecode, BadDigitLeavesPartlyFilledBuffer) {
    for (size_t n : {2, 17, 40, 100}) {
        for (size_t bad = 0; bad < 2 * n; bad += 3) {
            std::string text;
            for (size_t i = 0; i < n; ++i) text += "5c";
            text[bad] = (bad % 2) ? 'z' : ' ';
            unsigned char *out = nullptr;
            ASSERT_EQ(hex_decode(text.c_str(), &out), 0u);
            ASSERT_NE(out, nullptr);
            for (size_t i = 0; i < n; ++i) EXPECT_EQ(out[i], i < bad / 2 ? 0x5C : 0x41) << n << " " << bad << " " << i;
            std::free(out);
        }
    }
    unsigned char *out = nullptr;
    ASSERT_EQ(hex_decode("12zz", &out), 0u);
    EXPECT_EQ(out[0], 0x12);
    EXPECT_EQ(out[1], 0x41);
    std::free(out);
}

TEST(Hex, RoundTripsEveryByteAndLength) {
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    std::mt19937 rng(5);
    for (size_t len = 1; len < 300; ++len) {
        std::string bytes = len <= 256 ? all.substr(256 - len) : all + all.substr(0, len - 256);
        if (len % 2) std::shuffle(bytes.begin(), bytes.end(), rng);
        std::string text = encode(bytes);
        ASSERT_EQ(text.size(), 2 * len);
        if (len % 3 == 0)
            for (auto &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        unsigned char *out = nullptr;
        ASSERT_EQ(hex_decode(text.c_str(), &out), len);
        EXPECT_EQ(std::string(reinterpret_cast<char *>(out), len), bytes);
        std::free(out);
    }
}

TEST(Hex, AllocationFailureReturnsNothing) {
    kestrin::mem::fail_allocations_after(0);
    unsigned char sentinel = 0;
    unsigned char *out = &sentinel;
    EXPECT_EQ(hex_encode(reinterpret_cast<const unsigned char *>("ab"), 2), nullptr);
    EXPECT_EQ(hex_decode("abcd", &out), 0u);
    kestrin::mem::fail_allocations_after(-1);
    EXPECT_EQ(out, &sentinel);
}

}  // namespace
