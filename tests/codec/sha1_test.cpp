#include "codec/sha1.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "codec/cpu_internal.h"
#include "codec/sha1_internal.h"
#include "support.h"

namespace {

// A textbook SHA-1 over the whole padded message, written independently of
// the library's incremental core.
std::string reference_sha1_hex(const std::string &message) {
    std::vector<unsigned char> m(message.begin(), message.end());
    const uint64_t bits = static_cast<uint64_t>(m.size()) * 8;
    m.push_back(0x80);
    while (m.size() % 64 != 56) m.push_back(0);
    for (int i = 7; i >= 0; --i) m.push_back(static_cast<unsigned char>(bits >> (8 * i)));
    uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    auto rol = [](uint32_t x, int n) { return (x << n) | (x >> (32 - n)); };
    for (size_t off = 0; off < m.size(); off += 64) {
        uint32_t w[80];
        for (int t = 0; t < 16; ++t)
            w[t] = uint32_t{m[off + 4 * t]} << 24 | uint32_t{m[off + 4 * t + 1]} << 16 |
                   uint32_t{m[off + 4 * t + 2]} << 8 | m[off + 4 * t + 3];
        for (int t = 16; t < 80; ++t) w[t] = rol(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
        for (int t = 0; t < 80; ++t) {
            uint32_t f, k;
            if (t < 20) f = (b & c) ^ (~b & d), k = 0x5A827999;
            else if (t < 40) f = b ^ c ^ d, k = 0x6ED9EBA1;
            else if (t < 60) f = (b & c) ^ (b & d) ^ (c & d), k = 0x8F1BBCDC;
            else f = b ^ c ^ d, k = 0xCA62C1D6;
            const uint32_t temp = rol(a, 5) + f + e + k + w[t];
            e = d, d = c, c = rol(b, 30), b = a, a = temp;
        }
        h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e;
    }
    char out[41];
    for (int i = 0; i < 5; ++i) std::snprintf(out + 8 * i, 9, "%08x", h[i]);
    return out;
}

std::string buffer_hex(const std::string &message) {
    char out[41];
    EXPECT_EQ(sha1_buffer(reinterpret_cast<const unsigned char *>(message.data()),
                          static_cast<int32_t>(message.size()), 'x', out),
              out);
    return out;
}

// Every test runs with the best kernel and again with the portable one.
class Sha1 : public testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        kestrin::cpu::force_portable(GetParam());
    }
    void TearDown() override { kestrin::cpu::force_portable(false); }
};
INSTANTIATE_TEST_SUITE_P(Kernels, Sha1, testing::Values(false, true),
                         [](const auto &info) { return info.param ? "portable" : "best"; });

TEST_P(Sha1, FipsVectors) {
    EXPECT_EQ(buffer_hex("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(buffer_hex(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(buffer_hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    EXPECT_EQ(buffer_hex(std::string(1000000, 'a')), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

TEST_P(Sha1, FinalBlockBoundaries) {
    std::mt19937 rng(1);
    for (size_t n : {55, 56, 63, 64, 65, 119, 120, 127, 128})
        EXPECT_EQ(buffer_hex(std::string(n, 'q')), reference_sha1_hex(std::string(n, 'q'))) << n;
}

TEST_P(Sha1, EveryLengthInRandomPieces) {
    std::mt19937 rng(GetParam() ? 2 : 3);
    for (size_t len = 0; len <= 300; ++len) {
        const std::string message = testutil::random_bytes(len, rng());
        const std::string want = reference_sha1_hex(message);
        ASSERT_EQ(buffer_hex(message), want) << len;
        sha1_ctx ctx;
        sha1_init(&ctx);
        for (size_t done = 0; done < len;) {
            const size_t piece = std::min<size_t>(len - done, rng() % 130);
            sha1_update(&ctx, reinterpret_cast<const unsigned char *>(message.data()) + done,
                        static_cast<uint32_t>(piece));
            done += piece;
        }
        unsigned char digest[20];
        sha1_final(digest, &ctx);
        char hex[41];
        for (int i = 0; i < 20; ++i) std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
        ASSERT_EQ(std::string(hex), want) << len;
    }
}

TEST_P(Sha1, FinalClearsTheContext) {
    sha1_ctx ctx;
    sha1_init(&ctx);
    sha1_update(&ctx, reinterpret_cast<const unsigned char *>("abc"), 3);
    unsigned char digest[20];
    sha1_final(digest, &ctx);
    const sha1_ctx zero{};
    EXPECT_EQ(std::memcmp(&ctx, &zero, sizeof ctx), 0);
}

TEST_P(Sha1, TransformLeavesTheBlockAlone) {
    unsigned char block[64];
    for (int i = 0; i < 64; ++i) block[i] = static_cast<unsigned char>(i * 7);
    unsigned char copy[64];
    std::memcpy(copy, block, 64);
    uint32_t state[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    sha1_transform(state, block);
    EXPECT_EQ(std::memcmp(block, copy, 64), 0);
    // One block of 55 'q' plus padding compresses to the digest of "q" x 55.
    unsigned char padded[64] = {};
    std::memset(padded, 'q', 55);
    padded[55] = 0x80;
    padded[62] = (55 * 8) >> 8;
    padded[63] = (55 * 8) & 0xFF;
    uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    sha1_transform(h, padded);
    char hex[41];
    for (int i = 0; i < 5; ++i) std::snprintf(hex + 8 * i, 9, "%08x", h[i]);
    EXPECT_EQ(std::string(hex), reference_sha1_hex(std::string(55, 'q')));
}

TEST(Sha1Output, RawUnlessLowerX) {
    char raw[21];
    raw[20] = '#';
    ASSERT_EQ(sha1_buffer(reinterpret_cast<const unsigned char *>("abc"), 3, 'X', raw), raw);
    EXPECT_EQ(static_cast<unsigned char>(raw[0]), 0xa9);
    EXPECT_EQ(static_cast<unsigned char>(raw[19]), 0x9d);
    EXPECT_EQ(raw[20], '#');  // no terminator for the raw form
    ASSERT_EQ(sha1_buffer(reinterpret_cast<const unsigned char *>("abc"), 3, '\0', raw), raw);
    EXPECT_EQ(static_cast<unsigned char>(raw[0]), 0xa9);
    char hex[42];
    hex[41] = '#';
    sha1_buffer(reinterpret_cast<const unsigned char *>("abc"), 3, 'x', hex);
    EXPECT_EQ(hex[40], '\0');
    EXPECT_EQ(hex[41], '#');
    EXPECT_EQ(sha1_buffer(nullptr, -1, 'x', hex), nullptr);
}

class Sha1File : public testutil::TempDirTest {};

TEST_F(Sha1File, MatchesTheBufferDigest) {
    std::mt19937 rng(9);
    for (size_t n : {0, 1, 4096, 8192, 65535, 65536, 65537, 300001}) {
        const std::string bytes = testutil::random_bytes(n, rng());
        std::ofstream(dir + "/f", std::ios::binary) << bytes;
        char out[41] = {};
        ASSERT_EQ(sha1_file((dir + "/f").c_str(), 'x', out), out);
        EXPECT_EQ(std::string(out), reference_sha1_hex(bytes)) << n;
    }
}

TEST_F(Sha1File, UnreadableFilesGiveNull) {
    char out[41] = "untouched";
    EXPECT_EQ(sha1_file((dir + "/missing").c_str(), 'x', out), nullptr);
    EXPECT_EQ(sha1_file(dir.c_str(), 'x', out), nullptr);  // a directory: the read fails
    EXPECT_STREQ(out, "untouched");
}

}  // namespace
