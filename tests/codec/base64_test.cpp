#include "codec/base64.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "codec/base64_internal.h"
#include "codec/cpu_internal.h"
#include "support.h"

namespace {

using namespace kestrin::base64;

std::string encode(const std::string &bytes) {
    std::vector<char> out(base64_encoded_size(bytes.size()) + 1);
    const int n = base64_encode(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(),
                                out.data(), out.size());
    EXPECT_GE(n, 0);
    return n < 0 ? std::string() : std::string(out.data(), static_cast<size_t>(n));
}

// Runs check with the best kernels and again with the portable ones forced.
template <class Check>
void with_each_kernel(Check check) {
    for (bool portable : {false, true}) {
        SCOPED_TRACE(portable ? "portable kernels" : "best kernels");
        kestrin::cpu::force_portable(portable);
        check();
    }
    kestrin::cpu::force_portable(false);
}

// Decodes into an exact-size heap buffer so that AddressSanitizer sees any
// write past out_size.
int decode_into(const std::string &text, size_t out_size, std::string *bytes = nullptr) {
    std::unique_ptr<unsigned char[]> out(new unsigned char[out_size ? out_size : 1]);
    const int n = base64_decode(text.c_str(), out_size ? out.get() : nullptr, out_size);
    if (bytes && n > 0) bytes->assign(reinterpret_cast<char *>(out.get()), static_cast<size_t>(n));
    return n;
}

struct EncodeCase {
    std::string bytes, text;
};
class Base64Vectors : public testing::TestWithParam<EncodeCase> {};

TEST_P(Base64Vectors, EncodesAndDecodes) {
    const auto &c = GetParam();
    with_each_kernel([&] {
        EXPECT_EQ(encode(c.bytes), c.text);
        std::string back;
        EXPECT_EQ(decode_into(c.text, c.bytes.size() + 1, &back), static_cast<int>(c.bytes.size()));
        EXPECT_EQ(back, c.bytes);
    });
}

INSTANTIATE_TEST_SUITE_P(Rfc4648, Base64Vectors,
                         testing::Values(EncodeCase{"", ""}, EncodeCase{"f", "Zg=="},
                                         EncodeCase{"fo", "Zm8="}, EncodeCase{"foo", "Zm9v"},
                                         EncodeCase{"foob", "Zm9vYg=="},
                                         EncodeCase{"fooba", "Zm9vYmE="},
                                         EncodeCase{"foobar", "Zm9vYmFy"},
                                         EncodeCase{"hello\n", "aGVsbG8K"},
                                         EncodeCase{"A", "QQ=="}, EncodeCase{"AB", "QUI="},
                                         EncodeCase{std::string("a\0b", 3), "YQBi"},
                                         EncodeCase{"\xff\xfe\xfd", "//79"}));

TEST(Base64Encode, NeedsRoomForTheNul) {
    char out[8];
    const auto *src = reinterpret_cast<const unsigned char *>("abcdef");
    EXPECT_EQ(base64_encode(src, 0, out, 1), 0);
    EXPECT_EQ(out[0], '\0');
    EXPECT_EQ(base64_encode(src, 0, out, 0), -1);
    EXPECT_EQ(base64_encode(src, 6, out, 8), -1);  // exactly 8 characters, no NUL room
    EXPECT_EQ(std::string(out, 8), "YWJjZGVm");     // the groups that fitted stay
    EXPECT_EQ(base64_encode(src, 4, out, 8), -1);
    EXPECT_EQ(std::string(out, 8), "YWJjZA==");
    std::memset(out, '.', sizeof out);
    EXPECT_EQ(base64_encode(src, 6, out, 7), -1);  // only the first group fits
    EXPECT_EQ(std::string(out, 5), "YWJj.");
}

TEST(Base64Decode, OutputSizeRules) {
    EXPECT_EQ(decode_into("QQ==", 2), 1);
    EXPECT_EQ(decode_into("QQ==", 1), -1);  // the partial byte needs a slot
    EXPECT_EQ(decode_into("Zm9v", 3), 3);
    EXPECT_EQ(decode_into("Zm9v", 2), -1);
    EXPECT_EQ(decode_into("QUI=", 3), 2);
    EXPECT_EQ(decode_into("QUI=", 2), -1);
}

struct DecodeCase {
    const char *text;
    int result;  // with a roomy buffer
    const char *bytes;
};
class Base64DecodeCases : public testing::TestWithParam<DecodeCase> {};

TEST_P(Base64DecodeCases, MatchesContract) {
    const auto &c = GetParam();
    with_each_kernel([&] {
        std::string bytes;
        EXPECT_EQ(decode_into(c.text, 64, &bytes), c.result) << c.text;
        if (c.result > 0) {
            EXPECT_EQ(bytes, c.bytes);
        }
        // Validation only (no buffer) agrees: none of these has unused bits set.
        EXPECT_EQ(base64_decode(c.text, nullptr, 0), c.result) << c.text;
    });
}

INSTANTIATE_TEST_SUITE_P(
    Edges, Base64DecodeCases,
    testing::Values(DecodeCase{"SGVs bG8=", 5, "Hello"}, DecodeCase{"SGVsbG8\n=", 5, "Hello"},
                    DecodeCase{"S G V s\tb\nG\r8\v=\f", 5, "Hello"}, DecodeCase{"QQ= =", 1, "A"},
                    DecodeCase{"QQ==  \n", 1, "A"}, DecodeCase{"", 0, ""},
                    DecodeCase{" \t\r\n", 0, ""}, DecodeCase{"SGVsbG8", -1, ""},
                    DecodeCase{"QQ==QQ==", -1, ""}, DecodeCase{"QQ=x", -1, ""},
                    DecodeCase{"Q===", -1, ""}, DecodeCase{"=", -1, ""},
                    DecodeCase{"QQ", -1, ""}, DecodeCase{"Zm9v\xc3\xa9", -1, ""},
                    DecodeCase{"Zm9-", -1, ""}, DecodeCase{"Zm9_", -1, ""},
                    DecodeCase{"QUI=x", -1, ""}, DecodeCase{"Zm9vYmFy", 6, "foobar"}));

// Unused bits before the padding are refused only when there is an output
// buffer to hold them; validation alone checks alphabet and grouping.
TEST(Base64Decode, NonZeroUnusedBitsFailOnlyWithAnOutputBuffer) {
    with_each_kernel([] {
        for (const char *text : {"QR==", "QUJ=", "Zm9vQR==", "Zm9vYmFyQUJ= \n", "QR\n= =", "Zm9vYmFyZm9vYmFyZm9vYmFyZm9vYmFyQR=="}) {
            EXPECT_EQ(decode_into(text, 64), -1) << text;
            EXPECT_EQ(base64_decode_n(text, std::strlen(text), nullptr, 0), base64_decode(text, nullptr, 0)) << text;
        }
        EXPECT_EQ(base64_decode("QR==", nullptr, 0), 1);
        EXPECT_EQ(base64_decode("QUJ=", nullptr, 0), 2);
        EXPECT_EQ(base64_decode("Zm9vQR==", nullptr, 0), 4);
        EXPECT_EQ(base64_decode("QR\n= =", nullptr, 0), 1);
        EXPECT_EQ(base64_decode("Zm9vYmFyZm9vYmFyZm9vYmFyZm9vYmFyQR==", nullptr, 0), 25);
        // The same texts with the bits clear decode either way.
        EXPECT_EQ(decode_into("QQ==", 64), 1);
        EXPECT_EQ(decode_into("QUI=", 64), 2);
    });
}

TEST(Base64EncodedSize, FourCharactersPerStartedGroup) {
    const std::pair<size_t, size_t> cases[] = {{0, 0}, {1, 4}, {2, 4}, {3, 4}, {4, 8}, {5, 8}, {6, 8}, {7, 12},
                                               {49152, 65536}, {1610612733, 2147483644u}};
    for (const auto &[n, size] : cases) EXPECT_EQ(base64_encoded_size(n), size) << n;
    // Agrees with what the encoder writes.
    std::vector<unsigned char> src(100, 0x41);
    std::vector<char> out(200);
    for (size_t n = 0; n < src.size(); ++n)
        EXPECT_EQ(static_cast<size_t>(base64_encode(src.data(), n, out.data(), out.size())), base64_encoded_size(n));
    // Sizes beyond size_t saturate instead of wrapping to a small number.
    EXPECT_EQ(base64_encoded_size(SIZE_MAX / 4 * 3), SIZE_MAX / 4 * 4);
    EXPECT_EQ(base64_encoded_size(SIZE_MAX / 4 * 3 + 1), SIZE_MAX);
    EXPECT_EQ(base64_encoded_size(SIZE_MAX), SIZE_MAX);
}

// The span decoder reads exactly text_len characters: what follows them is
// never looked at, and a NUL inside them is malformed.
TEST(Base64DecodeN, ReadsExactlyTheSpan) {
    with_each_kernel([] {
        unsigned char out[64];
        EXPECT_EQ(base64_decode_n("Zm9vYmFy", 4, out, sizeof out), 3);
        EXPECT_EQ(std::string(reinterpret_cast<char *>(out), 3), "foo");
        EXPECT_EQ(base64_decode_n("QQ==!!", 4, out, sizeof out), 1);
        EXPECT_EQ(base64_decode_n("QQ==", 3, out, sizeof out), -1);   // the second pad is cut off
        EXPECT_EQ(base64_decode_n("QQ==", 2, out, sizeof out), -1);   // partial group
        EXPECT_EQ(base64_decode_n("", 0, out, sizeof out), 0);
        EXPECT_EQ(base64_decode_n("x", 0, nullptr, 0), 0);
        EXPECT_EQ(base64_decode_n(" \n", 2, out, sizeof out), 0);
        EXPECT_EQ(base64_decode_n(nullptr, 0, out, sizeof out), -1);
        EXPECT_EQ(base64_decode_n(nullptr, 4, nullptr, 0), -1);
        EXPECT_EQ(base64_decode_n("QQ==", 4, out, 1), -1);  // too small, as base64_decode
        EXPECT_EQ(base64_decode_n("QR==", 4, out, sizeof out), -1);
        EXPECT_EQ(base64_decode_n("QR==", 4, nullptr, 0), 1);
        const std::string with_nul("Zm9v\0Zm9v", 9), nul_after_pad("QQ==\0", 5), nul_in_bulk(std::string(40, 'A') + '\0' + std::string(3, 'A'));
        EXPECT_EQ(base64_decode_n(with_nul.data(), with_nul.size(), out, sizeof out), -1);
        EXPECT_EQ(base64_decode_n(nul_after_pad.data(), nul_after_pad.size(), out, sizeof out), -1);
        EXPECT_EQ(base64_decode_n(nul_in_bulk.data(), nul_in_bulk.size(), out, sizeof out), -1);
        EXPECT_EQ(base64_decode_n(nul_in_bulk.data(), 40, out, sizeof out), 30);
    });
}

// A span cut out of a longer text decodes as that text on its own would.
TEST(Base64DecodeN, AgreesWithTheNulTerminatedDecoder) {
    std::mt19937 rng(4242);
    with_each_kernel([&] {
        for (int round = 0; round < 500; ++round) {
            std::string bytes(rng() % 120, '\0');
            for (auto &b : bytes) b = static_cast<char>(rng());
            std::string text = encode(bytes);
            if (round % 3 == 0 && !text.empty()) text[rng() % text.size()] = " \n=.A"[rng() % 5];
            const size_t cut = text.empty() ? 0 : rng() % (text.size() + 1);
            const std::string head = text.substr(0, cut);
            const std::string buffer = text + "QUJD";  // characters past the span
            std::vector<unsigned char> a(bytes.size() + 2, 0xAA), b(bytes.size() + 2, 0xAA);
            const int want = base64_decode(head.c_str(), a.data(), a.size());
            ASSERT_EQ(base64_decode_n(buffer.data(), cut, b.data(), b.size()), want) << head;
            ASSERT_EQ(a, b) << head;
            ASSERT_EQ(base64_decode_n(buffer.data(), cut, nullptr, 0), base64_decode(head.c_str(), nullptr, 0)) << head;
        }
    });
}

TEST(Base64Decode, LeavesBytesPastTheDataAlone) {
    unsigned char out[64];
    std::memset(out, 0, sizeof out);
    const std::string text(40, 'A');  // 30 zero bytes, via the bulk path
    ASSERT_EQ(base64_decode(text.c_str(), out, sizeof out), 30);
    std::memset(out, 0x55, sizeof out);
    ASSERT_EQ(base64_decode(text.c_str(), out, sizeof out), 30);
    for (size_t i = 30; i < sizeof out; ++i) EXPECT_EQ(out[i], 0x55) << i;
}

// An independent, character-at-a-time reading of the decoder's contract.
int reference_decode(const std::string &text, unsigned char *out, size_t out_size) {
    // Each character's place in the alphabet, looked up once.
    static const std::vector<int> places = [] {
        std::vector<int> v(256, -1);
        for (int i = 0; i < 64; ++i) v[static_cast<unsigned char>(kAlphabet[i])] = i;
        return v;
    }();
    auto value = [](char c) { return places[static_cast<unsigned char>(c)]; };
    auto space = [](char c) { return c && std::strchr(" \t\n\v\f\r", c); };
    size_t t = 0, i = 0;
    int state = 0;
    for (; i < text.size() && text[i] != '=' && text[i]; ++i) {
        if (space(text[i])) continue;
        const int v = value(text[i]);
        if (v < 0) return -1;
        if (state == 0) {
            if (out && t >= out_size) return -1;
            if (out) out[t] = static_cast<unsigned char>(v << 2);
        } else if (state == 1 || state == 2) {
            if (out && t + 1 >= out_size) return -1;
            if (out) {
                out[t] |= static_cast<unsigned char>(state == 1 ? v >> 4 : v >> 2);
                out[t + 1] = static_cast<unsigned char>(state == 1 ? (v & 15) << 4 : (v & 3) << 6);
            }
            ++t;
        } else {
            if (out && t >= out_size) return -1;
            if (out) out[t] |= static_cast<unsigned char>(v);
            ++t;
        }
        state = (state + 1) % 4;
    }
    if (i == text.size() || !text[i]) return state == 0 ? static_cast<int>(t) : -1;
    ++i;
    if (state < 2) return -1;
    if (state == 2) {
        while (i < text.size() && space(text[i])) ++i;
        if (i == text.size() || text[i] != '=') return -1;
        ++i;
    }
    for (; i < text.size() && text[i]; ++i)
        if (!space(text[i])) return -1;
    if (out && out[t] != 0) return -1;
    return static_cast<int>(t);
}

std::string random_text(std::mt19937 &rng, size_t len) {
    static const std::string noise = std::string(kAlphabet) + " \n\r\t=-_\x80\xff.";
    std::uniform_int_distribution<int> pick(0, 99);
    std::string text;
    for (size_t i = 0; i < len; ++i) {
        const int r = pick(rng);
        if (r < 97) text += kAlphabet[static_cast<size_t>(pick(rng)) % 64];
        else text += noise[static_cast<size_t>(pick(rng)) % noise.size()];
    }
    return text;
}

// Every kernel against the reference, on mostly valid text with noise, with
// roomy, tight and missing output buffers.
TEST(Base64Kernels, AgreeWithReferenceDecoder) {
    std::mt19937 rng(12345);
    std::vector<BulkDecoder> kernels{decode_bulk_portable};
    if (kestrin::cpu::has_avx2()) kernels.push_back(decode_bulk_avx2);
    for (int round = 0; round < 4000; ++round) {
        const size_t len = static_cast<size_t>(rng() % 300);
        std::string text = random_text(rng, len);
        if (round % 3 == 0) text += "==";
        if (round % 5 == 0) text = encode(text) + (round % 2 ? "\n" : "");
        const size_t sizes[] = {0, len / 2, len * 3 / 4, len * 3 / 4 + 1, len + 1};
        for (size_t out_size : sizes) {
            std::vector<unsigned char> ref(out_size + 1, 0xAA);
            const int want = reference_decode(text, out_size ? ref.data() : nullptr, out_size);
            for (BulkDecoder kernel : kernels) {
                std::vector<unsigned char> got(out_size + 1, 0xAA);
                const int n = decode_with(kernel, text.c_str(), out_size ? got.data() : nullptr, out_size);
                ASSERT_EQ(n, want) << '"' << text << "\" size " << out_size;
                if (want > 0 && out_size > 0) {
                    ASSERT_EQ(0, std::memcmp(got.data(), ref.data(), static_cast<size_t>(want))) << text << " size " << out_size;
                }
            }
        }
    }
}

// Every single byte value in every position of two bulk blocks.
TEST(Base64Kernels, ClassifyEveryByteLikeThePortablePath) {
    if (!kestrin::cpu::has_avx2()) GTEST_SKIP() << "no AVX2 on this CPU";
    for (int c = 1; c < 256; ++c) {
        for (size_t pos = 0; pos < 64; ++pos) {
            std::string text(64, 'A');
            text[pos] = static_cast<char>(c);
            unsigned char a[64], b[64];
            std::memset(a, 0xAA, sizeof a);
            std::memset(b, 0xAA, sizeof b);
            ASSERT_EQ(decode_with(decode_bulk_avx2, text.c_str(), a, sizeof a),
                      decode_with(decode_bulk_portable, text.c_str(), b, sizeof b))
                << "byte " << c << " at " << pos;
            ASSERT_EQ(0, std::memcmp(a, b, sizeof a)) << "byte " << c << " at " << pos;
        }
    }
}

// Text folded into lines, as base64 files hold it.
std::string fold(const std::string &text, size_t width, const std::string &line_end) {
    std::string folded;
    for (size_t i = 0; i < text.size(); i += width) folded += text.substr(i, width) + line_end;
    return folded;
}

// Decodes text with every kernel and with the reference, for a roomy, an
// exact, several tight and a missing output buffer, and requires the same
// result and, on success, the same bytes in the whole buffer (so nothing is
// written past the data).
void expect_kernels_agree(const std::string &text, size_t data_len) {
    std::vector<BulkDecoder> kernels{decode_bulk_portable};
    if (kestrin::cpu::has_avx2()) kernels.push_back(decode_bulk_avx2);
    const size_t sizes[] = {0, data_len + 8, data_len + 1, data_len, data_len > 0 ? data_len - 1 : 1, data_len / 2 + 1,
                            data_len > 40 ? data_len - 40 : 2};
    for (size_t out_size : sizes) {
        std::vector<unsigned char> ref(out_size + 8, 0xAA);
        const int want = reference_decode(text, out_size ? ref.data() : nullptr, out_size);
        for (BulkDecoder kernel : kernels) {
            std::vector<unsigned char> got(out_size + 8, 0xAA);
            const int n = decode_span_with(kernel, text.data(), text.size(), out_size ? got.data() : nullptr, out_size);
            ASSERT_EQ(n, want) << (kernel == decode_bulk_avx2 ? "avx2" : "portable") << " size " << out_size
                               << " on \"" << text << '"';
            if (want >= 0) {
                ASSERT_EQ(got, ref) << (kernel == decode_bulk_avx2 ? "avx2" : "portable") << " size " << out_size
                                    << " on \"" << text << '"';
            }
        }
    }
}

struct FoldCase {
    size_t width;
    const char *line_end;
};
void PrintTo(const FoldCase &c, std::ostream *os) { *os << c.width << " columns"; }
class Base64Folded : public testing::TestWithParam<FoldCase> {};

// Folded text, then the same text with one character replaced by, or with
// one character inserted from, a set of faults (padding, blanks, line
// breaks, bad bytes, an extra alphabet character) at every position.
TEST_P(Base64Folded, KernelsAgreeWithReferenceWithAFaultAtEveryPosition) {
    const auto &c = GetParam();
    std::mt19937 rng(static_cast<unsigned>(c.width) * 7 + std::strlen(c.line_end));
    const char faults[] = {'=', ' ', '\n', '\r', '\t', '-', '\x80', '\xff', '.', 'Q'};
    for (size_t bytes : {size_t{0}, size_t{1}, size_t{56}, size_t{57}, size_t{58}, size_t{230}}) {
        std::string data(bytes, '\0');
        for (auto &b : data) b = static_cast<char>(rng());
        const std::string text = fold(encode(data), c.width, c.line_end);
        expect_kernels_agree(text, bytes);
        if (HasFatalFailure()) return;
        // Under the sanitizers each position takes one fault, in turn.
        size_t turn = 0;
        for (size_t pos = 0; pos < text.size(); ++pos) {
            for (size_t f : testutil::variants(sizeof faults, turn)) {
                const char fault = faults[f];
                std::string replaced = text, inserted = text;
                replaced[pos] = fault;
                inserted.insert(pos, 1, fault);
                expect_kernels_agree(replaced, bytes);
                expect_kernels_agree(inserted, bytes);
                if (HasFatalFailure()) return;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Widths, Base64Folded,
                         testing::Values(FoldCase{76, "\n"}, FoldCase{76, "\r\n"}, FoldCase{64, "\n"},
                                         FoldCase{64, "\r\n"}, FoldCase{32, "\n"}, FoldCase{36, " \n"},
                                         FoldCase{72, "\n\n"}, FoldCase{60, "\t"}, FoldCase{28, "\n"},
                                         FoldCase{75, "\n"}, FoldCase{77, "\r\n"}, FoldCase{100, "\n"},
                                         FoldCase{128, "\n"}, FoldCase{132, "\r\n"}),
                         [](const auto &info) {
                             std::string end;
                             for (const char *p = info.param.line_end; *p; ++p)
                                 end += *p == '\n' ? "LF" : *p == '\r' ? "CR" : *p == ' ' ? "SP" : "TAB";
                             return std::to_string(info.param.width) + "_" + end;
                         });

// Long folded texts whose lines change shape along the way: other widths,
// blank lines, stray blanks at line ends and starts.
TEST(Base64Folded, LinesThatChangeShapeAgree) {
    std::mt19937 rng(2024);
    const char *ends[] = {"\n", "\r\n", "\n\n", " \n", "\n ", "\n\t"};
    for (int round = 0; round < 300; ++round) {
        std::string data(rng() % 2000, '\0');
        for (auto &b : data) b = static_cast<char>(rng());
        const std::string plain = encode(data);
        std::string text;
        size_t width = 76;
        for (size_t i = 0; i < plain.size(); i += width) {
            if (rng() % 8 == 0) width = 4 * (1 + rng() % 40) + (rng() % 6 == 0 ? rng() % 4 : 0);
            text += plain.substr(i, width) + ends[rng() % 8 < 6 ? 0 : rng() % 6];
        }
        expect_kernels_agree(text, data.size());
        if (HasFatalFailure()) return;
    }
}

// The public entry points on folded text with the portable kernels forced
// and not: the same bytes, the same refusals.
TEST(Base64Folded, PublicDecodeAgreesWithBothKernelChoices) {
    std::mt19937 rng(77);
    std::string data(5000, '\0');
    for (auto &b : data) b = static_cast<char>(rng());
    const std::string text = fold(encode(data), 76, "\n");
    with_each_kernel([&] {
        std::string back;
        ASSERT_EQ(decode_into(text, data.size() + 1, &back), static_cast<int>(data.size()));
        EXPECT_EQ(back, data);
        EXPECT_EQ(base64_decode_n(text.data(), text.size(), nullptr, 0), static_cast<int>(data.size()));
        std::string bad = text;
        bad[40 * 77 + 10] = '*';
        EXPECT_EQ(decode_into(bad, data.size() + 1), -1);
        bad = text;
        bad[40 * 77 + 76] = '=';  // padding where a line break was
        EXPECT_EQ(decode_into(bad, data.size() + 1), -1);
    });
}

TEST(Base64Kernels, EncodersAgree) {
    if (!kestrin::cpu::has_avx2()) GTEST_SKIP() << "no AVX2 on this CPU";
    std::mt19937 rng(7);
    for (size_t len = 0; len < 400; ++len) {
        std::vector<unsigned char> src(len);
        for (auto &b : src) b = static_cast<unsigned char>(rng());
        const size_t need = base64_encoded_size(len) + 1;
        for (size_t out_size : {need, need - 1, need / 2}) {
            std::vector<char> a(need, '.'), b(need, '.');
            EXPECT_EQ(encode_with(encode_groups_avx2, src.data(), len, a.data(), out_size),
                      encode_with(encode_groups_portable, src.data(), len, b.data(), out_size));
            EXPECT_EQ(a, b) << len;
        }
    }
}

TEST(Base64, RoundTripsLargeBuffers) {
    std::mt19937 rng(99);
    std::string bytes(1 << 20, '\0');
    for (auto &b : bytes) b = static_cast<char>(rng());
    with_each_kernel([&] {
        const std::string text = encode(bytes);
        std::string back;
        ASSERT_EQ(decode_into(text, bytes.size() + 1, &back), static_cast<int>(bytes.size()));
        EXPECT_EQ(back, bytes);
    });
}


// ---- base64 in pieces ---------------------------------------------------------

// Decodes text cut into pieces of `piece` characters, each in a heap block
// of its own size (AddressSanitizer sees a read past it); nullopt when the
// stream refuses the text.
std::optional<std::string> decode_in_pieces(const std::string &text, size_t piece, int flags) {
    base64_stream s;
    base64_stream_init(&s, flags);
    std::string bytes;
    for (size_t at = 0; at < text.size(); at += piece) {
        const size_t n = std::min(piece, text.size() - at);
        const std::unique_ptr<char[]> in(new char[n]);
        std::memcpy(in.get(), text.data() + at, n);
        const size_t room = n / 4 * 3 + 3;
        const std::unique_ptr<unsigned char[]> out(new unsigned char[room]);
        const long got = base64_stream_decode(&s, in.get(), n, out.get(), room);
        if (got < 0) return std::nullopt;
        bytes.append(reinterpret_cast<char *>(out.get()), static_cast<size_t>(got));
    }
    if (base64_stream_decode_end(&s) != 0) return std::nullopt;
    return bytes;
}

struct StreamCase {
    std::string text;
    std::optional<std::string> lenient, strict;  // nullopt: refused
};
class Base64Stream : public testing::TestWithParam<StreamCase> {};

TEST_P(Base64Stream, DecodesTheWholeTextWhereverThePiecesEnd) {
    const auto &c = GetParam();
    with_each_kernel([&] {
        for (size_t piece = 1; piece <= c.text.size() + 1; ++piece) {
            EXPECT_EQ(decode_in_pieces(c.text, piece, 0), c.lenient) << c.text << " in pieces of " << piece;
            EXPECT_EQ(decode_in_pieces(c.text, piece, BASE64_STRICT), c.strict) << c.text << " in pieces of " << piece;
        }
    });
}

// 104 characters over several kernel blocks, and the same with a fold inside.
const std::string kLong = std::string(72, 'A') + std::string(28, 'B') + "Bg==";
const std::string kLongFolded = std::string(70, 'A') + "\n " + kLong.substr(70);
std::string long_bytes() {
    std::string b(54, '\0');
    for (int i = 0; i < 7; ++i) b += "\x04\x10\x41";
    return b + "\x06";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Base64Stream,
    testing::Values(StreamCase{"", "", ""}, StreamCase{"  \n", "", std::nullopt},
                    StreamCase{"Zm9vYmFy", "foobar", "foobar"}, StreamCase{"Zm9v YmFy", "foobar", std::nullopt},
                    StreamCase{"QQ==", "A", "A"}, StreamCase{"QUI=", "AB", "AB"},
                    StreamCase{"Q Q\r\n= =\t", "A", std::nullopt}, StreamCase{"QR==", std::nullopt, std::nullopt},
                    StreamCase{"QUJ=", std::nullopt, std::nullopt}, StreamCase{"QQ=", std::nullopt, std::nullopt},
                    StreamCase{"QQ", std::nullopt, std::nullopt}, StreamCase{"QQ==QQ==", std::nullopt, std::nullopt},
                    StreamCase{"Q===", std::nullopt, std::nullopt}, StreamCase{"QUJD=", std::nullopt, std::nullopt},
                    StreamCase{std::string("Zm9v\0YmFy", 9), std::nullopt, std::nullopt},
                    StreamCase{"Zm9v-_==", std::nullopt, std::nullopt}, StreamCase{"QQ== x", std::nullopt, std::nullopt},
                    StreamCase{kLong, long_bytes(), long_bytes()},
                    StreamCase{kLongFolded, long_bytes(), std::nullopt}));

TEST(Base64Stream, RefusesTooSmallAnOutputAndStaysFailed) {
    base64_stream s;
    base64_stream_init(&s, 0);
    unsigned char out[8];
    EXPECT_EQ(base64_stream_decode(&s, "QUJDREVG", 8, out, 8), -1);  // needs 8 / 4 * 3 + 3
    EXPECT_EQ(base64_stream_decode(&s, "QUJD", 4, out, sizeof out), -1);
    EXPECT_EQ(base64_stream_decode_end(&s), -1);
    base64_stream_init(&s, 0);
    EXPECT_EQ(base64_stream_decode(&s, "QUJDREVG", 8, nullptr, 0), 6);  // validation only
}

TEST(Base64Stream, EncodesTheWholeBufferWhereverThePiecesEnd) {
    std::string bytes(100, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 37);
    with_each_kernel([&] {
        for (size_t n : {size_t{0}, size_t{1}, size_t{2}, size_t{3}, size_t{31}, size_t{100}}) {
            for (size_t piece = 1; piece <= n + 1; ++piece) {
                base64_stream s;
                base64_stream_init(&s, 0);
                std::string text;
                for (size_t at = 0; at < n; at += piece) {
                    const size_t k = std::min(piece, n - at);
                    std::vector<char> out((k + 2) / 3 * 4);
                    const long got = base64_stream_encode(
                        &s, reinterpret_cast<const unsigned char *>(bytes.data()) + at, k, out.data(), out.size());
                    ASSERT_GE(got, 0);
                    text.append(out.data(), static_cast<size_t>(got));
                }
                char tail[4];
                const long got = base64_stream_encode_end(&s, tail, sizeof tail);
                ASSERT_GE(got, 0);
                text.append(tail, static_cast<size_t>(got));
                EXPECT_EQ(text, encode(bytes.substr(0, n))) << n << " bytes in pieces of " << piece;
            }
        }
    });
    base64_stream s;
    base64_stream_init(&s, 0);
    char out[4];
    EXPECT_EQ(base64_stream_encode(&s, reinterpret_cast<const unsigned char *>("abcd"), 4, out, 3), -1);
    EXPECT_EQ(base64_stream_encode(&s, reinterpret_cast<const unsigned char *>("ab"), 2, out, sizeof out), 0);
    EXPECT_EQ(base64_stream_encode_end(&s, out, 3), -1);
    EXPECT_EQ(base64_stream_encode_end(&s, out, 4), 4);
    EXPECT_EQ(std::string(out, 4), "YWI=");
}

}  // namespace
