// The UTF-8 check against a plain decoder of RFC 3629, over every short
// sequence, random texts of valid and broken UTF-8 cut into pieces at every
// kind of place, and the AVX2 kernel against the state machine alone.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "codec/cpu_internal.h"
#include "ldif/utf8_internal.h"

namespace {

using kestrin::utf8::kAccept;
using kestrin::utf8::kError;

// Whether bytes are well-formed UTF-8, decoded the long way: the code point
// of each sequence, then its range.
bool reference_valid(const std::string &bytes) {
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const size_t n = bytes.size();
    for (size_t i = 0; i < n;) {
        const unsigned c = p[i];
        size_t len;
        unsigned long cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            len = 2;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + len > n) return false;
        for (size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            cp = cp << 6 | (p[i + k] & 0x3F);
        }
        const unsigned long least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < least[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += len;
    }
    return true;
}

unsigned check(const std::string &bytes, unsigned state = kAccept) {
    return kestrin::utf8::run(state, reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size());
}

// Every sequence of one to three bytes, and every four-byte one with a lead
// byte F0-F7, alone and behind 70 bytes of ASCII (so that the AVX2 kernel
// sees it at every offset of a block), against the reference.
TEST(Utf8, EveryShortSequence) {
    for (unsigned a = 0x80; a < 0x100; ++a)
        for (unsigned b = 0; b < 0x100; b += 1) {
            const std::string two{static_cast<char>(a), static_cast<char>(b)};
            ASSERT_EQ(check(two) == kAccept, reference_valid(two)) << std::hex << a << " " << b;
            for (unsigned c : {0x00u, 0x41u, 0x80u, 0x8Fu, 0x90u, 0x9Fu, 0xA0u, 0xBFu, 0xC0u, 0xFFu}) {
                const std::string three = two + static_cast<char>(c);
                ASSERT_EQ(check(three) == kAccept, reference_valid(three)) << std::hex << a << " " << b << " " << c;
                const std::string four = three + '\x80';
                ASSERT_EQ(check(four) == kAccept, reference_valid(four)) << std::hex << a << " " << b << " " << c;
            }
        }
    for (size_t pad = 0; pad < 70; ++pad)
        for (const char *seq : {"\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80", "\xc0\x80", "\xed\xa0\x80",
                                "\xf4\x90\x80\x80", "\xe0\x9f\xbf", "\xf0\x8f\xbf\xbf", "\x80", "\xc3", "\xf5\x80"}) {
            const std::string text = std::string(pad, 'a') + seq + std::string(70, 'b');
            EXPECT_EQ(check(text) == kAccept, reference_valid(text)) << pad << " " << seq;
            const std::string at_end = std::string(pad + 64, 'a') + seq;
            EXPECT_EQ(check(at_end) == kAccept, reference_valid(at_end)) << pad << " " << seq;
        }
}

// A state carried from piece to piece gives what the whole text gives, for
// cuts inside sequences, and an open sequence at the end is no complete text.
TEST(Utf8, PiecesAgreeWithTheWholeText) {
    std::mt19937 rng(5);
    const std::vector<std::string> chars = {"a", "\xc3\xa9", "\xe4\xb8\xad", "\xf0\x9f\x98\x80", "\xed\x9f\xbf",
                                            "\xf4\x8f\xbf\xbf", "\xe0\xa0\x80", "\xf0\x90\x80\x80"};
    const std::vector<std::string> broken = {"\x80", "\xc1\xbf", "\xed\xa0\x80", "\xf4\x90\x80\x80",
                                             "\xe0\x80\x80", "\xf0\x80\x80\x80", "\xc3", "\xff", "\xe4\xb8"};
    for (int round = 0; round < 400; ++round) {
        std::string text;
        const size_t n = rng() % 600;
        while (text.size() < n) text += chars[rng() % chars.size()];
        if (round % 2) text.insert(rng() % (text.size() + 1), broken[rng() % broken.size()]);
        const bool valid = reference_valid(text);
        ASSERT_EQ(check(text) == kAccept, valid) << round;
        // The same text in pieces of random sizes.
        unsigned state = kAccept;
        for (size_t at = 0; at < text.size();) {
            const size_t k = std::min<size_t>(1 + rng() % 100, text.size() - at);
            state = check(text.substr(at, k), state);
            at += k;
        }
        EXPECT_EQ(state == kAccept, valid) << round;
        if (valid && !text.empty() && static_cast<unsigned char>(text.back()) >= 0x80) {
            // Without its last byte the text ends inside a sequence.
            EXPECT_NE(check(text.substr(0, text.size() - 1)), kAccept);
        }
    }
    EXPECT_EQ(check("\x80", kError), kError);  // the error state is for good
}

// The AVX2 kernel flags exactly the blocks the state machine finds broken
// (a sequence left open at the end is not looked at by the kernel).
TEST(Utf8, Avx2KernelAgreesWithTheStateMachine) {
    if (!kestrin::cpu::has_avx2()) GTEST_SKIP() << "no AVX2 here";
    std::mt19937 rng(9);
    for (int round = 0; round < 3000; ++round) {
        std::string text(32 * (1 + rng() % 6), 'x');
        for (auto &c : text)
            if (rng() % 4 == 0) c = static_cast<char>(0x80 + rng() % 0x80);
        // Mostly valid text, with the occasional byte out of place.
        if (round % 3) {
            text.clear();
            while (text.size() < 32 * 4) text += round % 5 ? "\xf0\x9f\x98\x80" : "\xc3\xa9z\xe4\xb8\xad";
            text.resize(32 * 4);
            if (round % 7 == 0) text[rng() % text.size()] = static_cast<char>(rng());
        }
        const auto *p = reinterpret_cast<const unsigned char *>(text.data());
        // What the state machine says when it may end inside a sequence.
        unsigned state = kAccept;
        for (unsigned char c : text) {
            state = kestrin::utf8::run(state, &c, 1);
            if (state == kError) break;
        }
        EXPECT_EQ(kestrin::utf8::blocks_valid_avx2(p, text.size()), state != kError) << round;
    }
}

TEST(Utf8, SequenceLength) {
    const auto len = [](const std::string &s) {
        return kestrin::utf8::sequence_length(reinterpret_cast<const unsigned char *>(s.data()), s.size());
    };
    EXPECT_EQ(len("a"), 1u);
    EXPECT_EQ(len("\xc3\xa9x"), 2u);
    EXPECT_EQ(len("\xe2\x82\xac"), 3u);
    EXPECT_EQ(len("\xf0\x9f\x98\x80"), 4u);
    EXPECT_EQ(len("\xf0\x9f\x98"), 0u);  // truncated
    EXPECT_EQ(len("\xc0\x80"), 0u);      // overlong
    EXPECT_EQ(len("\xed\xa0\x80"), 0u);  // surrogate
    EXPECT_EQ(len("\xf4\x90\x80\x80"), 0u);  // above U+10FFFF
    EXPECT_EQ(len("\x80"), 0u);          // a stray continuation byte
    EXPECT_EQ(len(""), 0u);
}

}  // namespace
