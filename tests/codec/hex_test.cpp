#include "codec/hex.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "codec/cpu_internal.h"
#include "codec/hex_internal.h"
#include "util/alloc_internal.h"

namespace {

std::string encode(const std::string &bytes) {
    char *text = hex_encode(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size());
    if (!text) return "(null)";
    std::string s(text);
    std::free(text);
    return s;
}

// The public operations run with the best kernels and again with the
// portable ones forced, so the portable loops are proven on an AVX2 machine.
class HexApi : public testing::TestWithParam<bool> {
protected:
    void SetUp() override { kestrin::cpu::force_portable(GetParam()); }
    void TearDown() override { kestrin::cpu::force_portable(false); }
};
INSTANTIATE_TEST_SUITE_P(Kernels, HexApi, testing::Values(false, true),
                         [](const auto &info) { return info.param ? "portable" : "best"; });

TEST_P(HexApi, EncodeUpperCaseTwoDigitsPerByte) {
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

TEST_P(HexApi, DecodeSuccess) {
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
TEST_P(HexApi, BadDigitLeavesPartlyFilledBuffer) {
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

TEST_P(HexApi, RoundTripsEveryByteAndLength) {
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

// An independent reading of the digit rules, one character at a time.
int reference_digit(char c) {
    const char *upper = "0123456789ABCDEF", *lower = "0123456789abcdef";
    for (int i = 0; i < 16; ++i)
        if (c == upper[i] || c == lower[i]) return i;
    return -1;
}

struct HexKernels {
    const char *name;
    kestrin::hex::Encoder encode;
    kestrin::hex::Decoder decode;
};

std::vector<HexKernels> hex_kernels() {
    std::vector<HexKernels> k{{"portable", kestrin::hex::encode_portable, kestrin::hex::decode_portable}};
    if (kestrin::cpu::has_avx2()) k.push_back({"avx2", kestrin::hex::encode_avx2, kestrin::hex::decode_avx2});
    return k;
}

// Every kernel against the reference: all 256 byte values in every lane of a
// vector block, then random sizes across the block boundaries.
TEST(HexKernels, EncodeEveryByteInEveryPosition) {
    for (const auto &k : hex_kernels()) {
        for (size_t len : {1, 31, 32, 33, 64, 100}) {
            for (size_t pos = 0; pos < len; ++pos) {
                for (int b = 0; b < 256; b += (pos % 7 == 0 ? 1 : 37)) {
                    std::vector<unsigned char> data(len, 0x5A);
                    data[pos] = static_cast<unsigned char>(b);
                    std::string out(2 * len + 1, '.');
                    k.encode(data.data(), len, out.data());
                    ASSERT_EQ(out[2 * len], '.') << k.name << " wrote past its output";
                    for (size_t i = 0; i < len; ++i) {
                        ASSERT_EQ(reference_digit(out[2 * i]), data[i] >> 4) << k.name << " " << len << " " << i;
                        ASSERT_EQ(reference_digit(out[2 * i + 1]), data[i] & 15) << k.name << " " << len << " " << i;
                        ASSERT_TRUE(out[2 * i] < 'a' && out[2 * i + 1] < 'a') << "upper case only";
                    }
                }
            }
        }
    }
}

TEST(HexKernels, DecodeEveryCharacterInEveryPosition) {
    for (const auto &k : hex_kernels()) {
        for (size_t n : {1, 15, 16, 17, 32, 40}) {
            for (size_t pos = 0; pos < 2 * n; ++pos) {
                for (int c = 0; c < 256; ++c) {
                    std::string text;
                    for (size_t i = 0; i < n; ++i) text += "c3";
                    text[pos] = static_cast<char>(c);
                    const bool good = reference_digit(static_cast<char>(c)) >= 0;
                    std::vector<unsigned char> out(n + 1, 0x99);
                    const size_t done = k.decode(text.data(), n, out.data());
                    ASSERT_EQ(done, good ? n : pos / 2) << k.name << " char " << c << " at " << pos;
                    for (size_t i = 0; i < done; ++i) {
                        const int want = reference_digit(text[2 * i]) << 4 | reference_digit(text[2 * i + 1]);
                        ASSERT_EQ(out[i], want) << k.name << " " << i;
                    }
                    for (size_t i = done; i <= n; ++i) ASSERT_EQ(out[i], 0x99) << k.name << " wrote at " << i;
                }
            }
        }
    }
}

TEST(HexKernels, AgreeWithReferenceOnRandomSizes) {
    std::mt19937 rng(31);
    static const char kMixed[] = "0123456789abcdefABCDEF";
    for (int round = 0; round < 2000; ++round) {
        const size_t n = rng() % 200;
        std::vector<unsigned char> data(n);
        for (auto &b : data) b = static_cast<unsigned char>(rng());
        std::string text(2 * n, '\0');
        for (auto &c : text) c = kMixed[rng() % 22];
        if (n && round % 2) text[rng() % (2 * n)] = static_cast<char>(rng() % 2 ? 'g' : '\x80');
        size_t want = n;
        for (size_t i = 0; i < n; ++i)
            if (reference_digit(text[2 * i]) < 0 || reference_digit(text[2 * i + 1]) < 0) {
                want = i;
                break;
            }
        for (const auto &k : hex_kernels()) {
            std::string enc(2 * n, '\0');
            k.encode(data.data(), n, enc.data());
            for (size_t i = 0; i < n; ++i)
                ASSERT_EQ(reference_digit(enc[2 * i]) << 4 | reference_digit(enc[2 * i + 1]), data[i]) << k.name;
            std::vector<unsigned char> out(n + 1, 0x99);
            ASSERT_EQ(k.decode(text.data(), n, out.data()), want) << k.name << " " << text;
            for (size_t i = 0; i < want; ++i)
                ASSERT_EQ(out[i], reference_digit(text[2 * i]) << 4 | reference_digit(text[2 * i + 1])) << k.name;
        }
    }
}

}  // namespace
