// End-to-end: the tool reads its input in pieces and never holds the whole
// value, yet must write exactly what the library writer writes for the whole
// value at once. Each case runs the built binary from every kind of source
// and compares its bytes with ldif_write_attr_wrap over the whole value, for
// values around every boundary of the streaming: the fold, the pieces a file
// is read in, the 1 MiB a pipe may keep in memory, base64 groups and line
// breaks cut between pieces, a decision that only the last piece can make,
// and the same with a fold width (-w), UTF-8 text kept plain (-u) and the
// final line end dropped (-n).
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "codec/base64.h"
#include "ldif/ldif.h"
#include "support.h"

namespace {

const std::string kBin = KESTRIN_BIN;
constexpr size_t kMiB = size_t{1} << 20;

// The short names these tests use for the shared file helpers.
constexpr auto &slurp = testutil::read_file;
constexpr auto &spit = testutil::write_file;
constexpr auto &quote = testutil::shell_quote;
using testutil::held_spool;
using testutil::Outcome;
using testutil::random_bytes;

// Printable text without line breaks (safe as a whole).
std::string printable(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, 'a');
    for (auto &c : s) c = static_cast<char>('!' + rng() % 94);
    return s;
}

// The library writer over the whole value (NUL-terminated after it, as the
// tool's value always is), folding at `width`.
std::string writer(const std::string &attr, const std::string &value, int mode, int width = 77) {
    int count = 0;
    char *text = ldif_write_attr_wrap(nullptr, &count, attr.c_str(), value.c_str(), static_cast<int>(value.size()), mode,
                                      width);
    std::string out = text ? std::string(text, static_cast<size_t>(count)) : "<writer failed>";
    std::free(text);
    return out;
}

std::string base64(const std::string &bytes) {
    std::string text((bytes.size() + 2) / 3 * 4 + 1, '\0');
    const int n = base64_encode(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), text.data(),
                                text.size());
    text.resize(static_cast<size_t>(n));
    return text;
}

// base64 text broken into lines of `width` characters, each ending in `eol`.
std::string folded_base64(const std::string &bytes, size_t width, const std::string &eol = "\n") {
    const std::string flat = base64(bytes);
    std::string out;
    for (size_t i = 0; i < flat.size(); i += width) out += flat.substr(i, width) + eol;
    return out;
}

enum Flags { kAuto = 0, kDecode = 1, kEncode = 2, kGuess = 4, kUtf8 = 8, kStrip = 16 };

// The fold width the tool is given: kNoWidth gives no -w (the default, 77).
constexpr int kNoWidth = -1;

std::string options(int flags, int width = kNoWidth) {
    std::string o;
    if (flags & kDecode) o += "-b ";
    if (flags & kEncode) o += "-B ";
    if (flags & kGuess) o += "-G ";
    if (flags & kUtf8) o += "-u ";
    if (flags & kStrip) o += "-n ";
    if (width != kNoWidth) o += "-w " + std::to_string(width) + " ";
    return o;
}

// What the tool must write for this input: one final line end dropped with
// -n, the input decoded as one text when asked, the mode as -B, -G and -u
// choose it, then the writer at the width.
struct Expected {
    std::string out, err;
    int status;
};

Expected expected(const std::string &attr, const std::string &raw, int flags, int given_width = kNoWidth) {
    const int width = given_width == kNoWidth ? 77 : given_width;
    std::string input = raw;
    if ((flags & kStrip) && !input.empty() && input.back() == '\n')
        input.resize(input.size() - (input.size() >= 2 && input[input.size() - 2] == '\r' ? 2 : 1));
    if (input.empty()) return {"", "", 1};
    std::string value = input;
    if (flags & kDecode) {
        std::string decoded(input.size(), '\0');
        // A NUL is no base64 character: the whole text is malformed.
        const int got = input.find('\0') != std::string::npos
                            ? -1
                            : base64_decode(input.c_str(), reinterpret_cast<unsigned char *>(decoded.data()), input.size());
        if (got <= 0)
            return {"", "Failed to base64-decode input(" + std::to_string(input.size()) + "," + std::to_string(got) + ")!\n",
                    1};
        value = decoded.substr(0, static_cast<size_t>(got));
    }
    int mode = (flags & kEncode) ? LDIF_ENC_BASE64 : (flags & kUtf8) ? LDIF_ENC_UTF8 : LDIF_ENC_AUTO;
    if (flags & kGuess) {
        mode = LDIF_ENC_AUTO;
        for (unsigned char c : value)
            if (c & 0x80) mode = LDIF_ENC_BASE64;
    }
    // The tool's value is raw bytes: under a ";binary" name it is base64.
    if (attr.find(";binary") != std::string::npos) mode = LDIF_ENC_BASE64;
    // The tool prints the name as given, options and all, where the writer
    // would leave the binary option out: the writer's line for a name of the
    // same length without options, with the name put back (over the folds,
    // when the width is smaller than the name).
    if (attr.find(';') == std::string::npos) return {writer(attr, value, mode, width), "", 0};
    std::string plain_name = attr;
    std::replace(plain_name.begin(), plain_name.end(), ';', '_');
    std::string line = writer(plain_name, value, mode, width);
    for (size_t i = 0, k = 0; i < line.size() && k < attr.size(); ++i) {
        if (line[i] == '\n' && i + 1 < line.size() && line[i + 1] == ' ')
            ++i;  // a fold: its line feed and space are no part of the name
        else
            line[i] = attr[k++];
    }
    return {line, "", 0};
}

// Where the tool's input comes from.
enum class From { kFile, kStdinFile, kPipe, kFifoArg, kString };
const char *name_of(From f) {
    switch (f) {
        case From::kFile: return "-i file";
        case From::kStdinFile: return "< file";
        case From::kPipe: return "cat file |";
        case From::kFifoArg: return "-i <(cat file)";
        case From::kString: return "-s";
    }
    return "?";
}

// The first difference of two long texts, readable in a failure message.
std::string first_difference(const std::string &a, const std::string &b) {
    size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
    return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size()) + ", first difference at " +
           std::to_string(i) + ": " + quote(a.substr(i, 40)) + " vs " + quote(b.substr(i, 40));
}

class Stream : public testutil::ToolTest {
protected:
    Outcome run(const std::string &attr, const std::string &input, int flags, From from, int width = kNoWidth) {
        const std::string in = dir + "/input", out = dir + "/stdout", err = dir + "/stderr";
        spit(in, input);
        const std::string tool = quote(kBin) + " " + options(flags, width) + "-a " + quote(attr);
        std::string cmd;
        switch (from) {
            case From::kFile: cmd = tool + " -i " + quote(in); break;
            case From::kStdinFile: cmd = tool + " < " + quote(in); break;
            case From::kPipe: cmd = "cat " + quote(in) + " | " + tool; break;
            case From::kFifoArg: cmd = tool + " -i <(cat " + quote(in) + ")"; break;
            case From::kString: cmd = tool + " -s \"$(cat " + quote(in) + ")\""; break;
        }
        cmd = "{ " + cmd + "; } >" + quote(out) + " 2>" + quote(err) + " </dev/null";
        return testutil::run_bash(cmd, out, err);
    }

    // Runs the input through every source and compares with the writer.
    void check(const std::string &input, int flags, const std::string &attr = "photo") {
        check_wrap(input, flags, kNoWidth, attr);
    }
    void check_wrap(const std::string &input, int flags, int width, const std::string &attr = "photo") {
        const Expected want = expected(attr, input, flags, width);
        std::vector<From> sources = {From::kFile, From::kStdinFile, From::kPipe, From::kFifoArg};
        // A -s value is text: no NUL, no trailing line feed (the shell drops
        // it), and no leading '-' (it would read as an option).
        if (input.size() < 100000 && input.find('\0') == std::string::npos &&
            (input.empty() || (input.back() != '\n' && input.front() != '-')))
            sources.push_back(From::kString);
        static size_t turn = 0;
        for (size_t i : testutil::variants(sources.size(), turn)) {
            const From from = sources[i];
            const Outcome got = run(attr, input, flags, from, width);
            SCOPED_TRACE(std::string(name_of(from)) + " " + options(flags, width) + "input of " +
                         std::to_string(input.size()) + " bytes");
            EXPECT_TRUE(got.out == want.out) << first_difference(got.out, want.out);
            EXPECT_EQ(got.err, want.err);
            EXPECT_EQ(got.status, want.status);
        }
    }
};

// ---- plain and base64 values at the fold and the piece sizes ----------------

struct Sized {
    size_t size;
    const char *what;
};

class StreamSizes : public Stream, public testing::WithParamInterface<Sized> {};

TEST_P(StreamSizes, TextAndBytesMatchTheWriter) {
    const size_t n = GetParam().size;
    check(printable(n, 1), kAuto);
    check(printable(n, 2), kEncode);
    check(random_bytes(n, 3), kAuto);
}

// "photo: " takes 7 columns, "photo:: " 8: a plain value of 70 characters
// makes a line of 77, 71 of 78, 72 the first fold; base64 of 51, 52 and 54
// bytes sits around the fold too.
INSTANTIATE_TEST_SUITE_P(
    Boundaries, StreamSizes,
    testing::Values(Sized{0, "empty"}, Sized{1, "one byte"}, Sized{51, "base64 line of 76"},
                    Sized{52, "base64 line of 80"}, Sized{54, "base64 line of 80"}, Sized{70, "line of 77"},
                    Sized{71, "line of 78"}, Sized{72, "line of 79"}, Sized{147, "two full lines"},
                    Sized{148, "third line begins"}, Sized{kMiB - 1, "piece less one"}, Sized{kMiB, "one piece"},
                    Sized{kMiB + 1, "piece and one"}, Sized{2 * kMiB - 1, "two pieces less one"},
                    Sized{2 * kMiB + 1, "two pieces and one"}, Sized{3 * kMiB + 77, "several pieces"}),
    [](const testing::TestParamInfo<Sized> &info) { return "Size" + std::to_string(info.param.size); });

// ---- a decision only the last piece can make ----------------------------------

class StreamLastPiece : public Stream, public testing::WithParamInterface<size_t> {};

TEST_P(StreamLastPiece, OneByteAtTheEndDecidesForTheWholeValue) {
    const size_t n = GetParam();
    for (const char last : {'\x80', '\xff', '\0', '\n', '\r'}) {
        std::string value = printable(n, 4);
        value.back() = last;
        check(value, kAuto);
        if (last == '\x80' || last == '\0') check(value, kGuess | kEncode);
    }
    check(printable(n, 5), kGuess | kEncode);  // 7-bit: plain despite -B
}

TEST_P(StreamLastPiece, FirstByteDecidesForTheWholeValue) {
    for (const char first : {' ', ':', '<', '\t', '\v', '\f', '-'}) {
        std::string value = printable(GetParam(), 25);
        value.front() = first;
        check(value, kAuto);
    }
}

TEST_P(StreamLastPiece, InvalidBase64AtTheEndWritesNothing) {
    const size_t n = GetParam();
    std::string text = folded_base64(random_bytes(n / 4 * 3, 6), 76);
    text.back() = '!';
    check(text, kDecode);
    check(text, kDecode | kEncode);
    std::string unpadded = base64(random_bytes(n / 4 * 3 + 1, 7));
    unpadded.resize(unpadded.size() - 2);  // a group of two characters without its padding
    check(unpadded, kDecode);
}

INSTANTIATE_TEST_SUITE_P(AroundPieces, StreamLastPiece, testing::Values(kMiB - 1, kMiB, kMiB + 1, 2 * kMiB + 3),
                         [](const testing::TestParamInfo<size_t> &info) { return "Size" + std::to_string(info.param); });

// ---- base64 text cut between pieces -----------------------------------------------

TEST_F(Stream, Base64LinesOfEveryWidthAcrossPieces) {
    const std::string bytes = random_bytes(kMiB, 8);
    for (size_t width : {76u, 64u, 75u, 77u, 1u, 3u})
        for (int flags : {int{kDecode}, kDecode | kEncode}) check(folded_base64(bytes, width), flags);
    check(folded_base64(bytes, 76, "\r\n"), kDecode);
    check(folded_base64(bytes, 76, " \t\v\f"), kDecode);
}

TEST_F(Stream, Base64PaddingAndGroupsAtThePieceBoundary) {
    // Unbroken text that ends just before, at and after 1 MiB, so that the
    // last group, its padding or the white space after it falls in the
    // second piece.
    for (size_t bytes : {kMiB / 4 * 3 - 1, kMiB / 4 * 3 - 2, kMiB / 4 * 3 + 1, kMiB / 4 * 3 + 2}) {
        const std::string text = base64(random_bytes(bytes, 9));
        check(text, kDecode);
        check(text + "\n\n", kDecode);
        check(text + " \n", kDecode | kEncode);
    }
    // "==" cut between the pieces, with white space between the two.
    std::string split = base64(random_bytes(kMiB / 4 * 3 - 2, 10));  // ends in "=="
    ASSERT_EQ(split.substr(split.size() - 2), "==");
    split.insert(split.size() - 1, "\n\n");
    check(split, kDecode);
    // A text whose padding sits in the first piece and whose trailing white
    // space runs into the next pieces; then garbage after it.
    const std::string padded = base64(random_bytes(100, 11)) + std::string(kMiB + 5, '\n');
    check(padded, kDecode);
    check(padded + "A", kDecode);
    // Padding in the middle of the text, found only in a later piece.
    check(base64(random_bytes(kMiB, 12)) + "QQ==" + base64(random_bytes(10, 13)), kDecode);
    // Non-zero bits before the padding, in the last piece.
    check(std::string(kMiB, 'A') + "QR==", kDecode);
    check(std::string(kMiB, 'A') + "QUJ=", kDecode);
    check(std::string(kMiB, 'A') + "QUI=", kDecode);
}

TEST_F(Stream, Base64TextWithANulIsMalformed) {
    const std::string text = folded_base64(random_bytes(kMiB, 14), 76);
    check(text + std::string(1, '\0') + "not base64 at all", kDecode);
    check(text.substr(0, kMiB + 3) + std::string(1, '\0') + text.substr(kMiB + 3), kDecode);
    check(std::string(kMiB + 10, '\n'), kDecode);  // only white space: no byte
    check(std::string(3, '\n') + std::string(1, '\0') + "QQ==", kDecode);
}

TEST_F(Stream, AttributeOptionsAndLongNames) {
    const std::string value = random_bytes(kMiB + 3, 15);
    check(value, kAuto, "jpegPhoto;binary");
    check(printable(kMiB + 3, 24), kGuess, "jpegPhoto;binary");
    check(printable(kMiB + 3, 16), kAuto, "photo;filename");
    check(printable(200, 17), kAuto, std::string(80, 'n'));  // no room for value on the first line
}

// ---- the fold width, UTF-8 text and the final newline on every path -----------------

constexpr size_t kPiece = size_t{256} << 10;  // a file is read in pieces of this size

// Printable text that begins with a letter: plain as a whole.
std::string plain_text(size_t n, unsigned seed) {
    std::string s = printable(n, seed);
    if (!s.empty()) s[0] = 'a';
    return s;
}

// Well-formed UTF-8 text of exactly n bytes: ASCII and characters of two to
// four bytes (a combining accent among them) at random, beginning with a
// letter and ending in ASCII.
std::string utf8_text(size_t n, unsigned seed) {
    static const char *const kChars[] = {"\xc3\xa9", "\xce\xbb", "\xe6\x97\xa5", "\xe2\x82\xac",
                                         "\xf0\x9f\x98\x80", "\xf0\x90\x8d\x88", "e\xcc\x81"};
    std::mt19937 rng(seed);
    std::string s = "a";
    while (s.size() + 4 < n) {
        if (rng() % 10 < 3)
            s += static_cast<char>('!' + rng() % 94);
        else
            s += kChars[rng() % 7];
    }
    s.resize(std::min(s.size(), n));
    while (s.size() < n) s += 'z';
    return s;
}

// The folds of a plain UTF-8 line checked against the rule itself, not
// against the writer: each physical line within the width, no fold inside a
// character, none earlier than the next character requires, and the folds
// joined give the unfolded line back. For widths of 5 and more, where every
// character fits on a continuation line.
void expect_utf8_folds(const std::string &out, const std::string &unfolded, size_t width) {
    ASSERT_FALSE(out.empty());
    ASSERT_EQ(out.back(), '\n');
    const auto sequence_length = [](unsigned char lead) -> size_t {
        return lead < 0x80 ? 1 : lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc0 ? 2 : 0;
    };
    // The first line holds the head ("photo: ") and the value's first
    // character at least.
    const size_t head = unfolded.find(' ') + 1;
    const size_t first_line = std::max(width, head + sequence_length(static_cast<unsigned char>(unfolded[head])));
    std::string joined;
    size_t bad = 0;  // lines that break a rule (reported once: the text is large)
    std::string first_bad;
    for (size_t start = 0, nl; (nl = out.find('\n', start)) != std::string::npos; start = nl + 1) {
        const std::string_view line(out.data() + start, nl - start);
        const bool first = start == 0;
        bool ok = line.size() <= (first ? first_line : width) && (first || (line.size() > 1 && line[0] == ' ' &&
                                                     sequence_length(static_cast<unsigned char>(line[1])) != 0));
        const size_t next = nl + 2 < out.size() ? sequence_length(static_cast<unsigned char>(out[nl + 2])) : 0;
        if (nl + 1 < out.size() && line.size() + next <= width) ok = false;  // folded early
        joined.append(first ? line : line.substr(std::min<size_t>(1, line.size())));
        if (!ok && bad++ == 0) first_bad = "line at " + std::to_string(start) + ": " + quote(std::string(line));
    }
    EXPECT_EQ(bad, 0u) << first_bad;
    EXPECT_TRUE(joined == unfolded) << first_difference(joined, unfolded);
}

class StreamWidths : public Stream, public testing::WithParamInterface<int> {};

TEST_P(StreamWidths, TextAndBytesMatchTheWriterAtTheWidth) {
    const int width = GetParam();
    for (size_t n : {kPiece + 1, kMiB + 5, 3 * kMiB + 7}) {
        check_wrap(plain_text(n, 40), kAuto, width);
        check_wrap(random_bytes(n, 41), kAuto, width);
        check_wrap(plain_text(n, 42), kEncode, width);
    }
    check_wrap(plain_text(100, 43), kAuto, width);
    check_wrap(random_bytes(100, 44), kAuto, width, "jpegPhoto;binary");
}

// 51 puts a fold of a plain "photo: " line on the first piece border.
INSTANTIATE_TEST_SUITE_P(Widths, StreamWidths, testing::Values(0, 2, 3, 51, 76, 78, 200),
                         [](const testing::TestParamInfo<int> &info) { return "Width" + std::to_string(info.param); });

TEST_F(Stream, Utf8CharactersAcrossPieceBorders) {
    const std::string base = plain_text(kMiB + 300000, 45);
    for (const std::string c : {"\xc3\xa9", "\xe6\x97\xa5", "\xf0\x9f\x98\x80"})
        for (int shift = -3; shift <= 3; ++shift) {
            // The character begins up to three bytes before each border (so
            // that it straddles it) or up to three after it, at the first and
            // second piece borders and at the 1 MiB a pipe may keep.
            std::string value = base;
            for (size_t border : {kPiece, 2 * kPiece, kMiB})
                value.replace(static_cast<size_t>(static_cast<long>(border) + shift), c.size(), c);
            SCOPED_TRACE("a character of " + std::to_string(c.size()) + " bytes at border " + std::to_string(shift));
            ASSERT_EQ(expected("photo", value, kUtf8).out.substr(0, 7), "photo: ");
            check(value, kUtf8);
            check_wrap(value, kUtf8, 51);
        }
}

TEST_F(Stream, Utf8TextOfEveryKindOfCharacter) {
    const std::string text = utf8_text(3 * kMiB + 11, 46);
    ASSERT_EQ(expected("photo", text, kUtf8).out.substr(0, 7), "photo: ");
    for (int width : {kNoWidth, 0, 2, 5, 200}) check_wrap(text, kUtf8, width);
    for (int width : {5, 6, 77}) {
        SCOPED_TRACE("width " + std::to_string(width));
        expect_utf8_folds(expected("photo", text, kUtf8, width).out, "photo: " + text, static_cast<size_t>(width));
    }
    check(text, kUtf8 | kEncode);  // -B still wins
    check(text, kAuto);            // without -u: base64
    check(utf8_text(kMiB - 3, 47), kUtf8);
    check(utf8_text(kPiece + 2, 48), kUtf8);
    check_wrap(utf8_text(5000, 49), kUtf8, 7);  // also as -s
}

TEST_F(Stream, Utf8MalformedOnlyInTheLastPiece) {
    const std::string good = utf8_text(kMiB + 300000, 50) + "abcdefghij";
    ASSERT_EQ(expected("photo", good, kUtf8).out.substr(0, 7), "photo: ");
    check(good, kUtf8);
    const std::vector<std::string> endings = {"\xff", "\x80", "\xe6", "\xe6\x97", "\xc0\xaf", "\xed\xa0\x80",
                                              "\xf4\x90\x80\x80", "\xc3\x85\x85"};
    for (const auto &bad : endings) {
        SCOPED_TRACE(quote(bad));
        std::string value = good;
        value.replace(value.size() - 5, bad.size(), bad);  // then ASCII, or the end
        ASSERT_EQ(expected("photo", value, kUtf8).out.substr(0, 8), "photo:: ");
        check(value, kUtf8);
        std::string at_end = good;
        at_end.replace(at_end.size() - bad.size(), bad.size(), bad);  // the very last bytes
        check(at_end, kUtf8);
    }
    // A sequence cut at a piece border: its lead bytes end one piece, an
    // ASCII byte begins the next.
    std::string cut = plain_text(kMiB + 300000, 51);
    cut.replace(kPiece - 2, 2, "\xe6\x97");
    check(cut, kUtf8);
    cut[kPiece] = '\xa5';  // completed in the next piece: well-formed
    ASSERT_EQ(expected("photo", cut, kUtf8).out.substr(0, 7), "photo: ");
    check(cut, kUtf8);
}

TEST_F(Stream, StripNewlineOnLargeInputs) {
    // The line end alone in the last piece, or its CR and LF on either side
    // of a border; a pipe of 1 MiB and one byte that is 1 MiB once stripped.
    for (size_t n : {kPiece - 1, kPiece, kMiB - 1, kMiB, 3 * kMiB + 5}) {
        const std::string body = plain_text(n, 52);
        for (const std::string end : {"\n", "\r\n", "\n\n", "\r", "\n\r\n"}) {
            SCOPED_TRACE(std::to_string(n) + " bytes and " + quote(end));
            check(body + end, kStrip);
        }
        check(body + "\n", kAuto);  // without -n the line feed stays
        check(random_bytes(n, 53) + "\r\n", kStrip);
        check(body + "\r\n", kStrip | kEncode);
        check(utf8_text(n, 54) + "\n", kStrip | kUtf8);
    }
    check(std::string(kMiB + 1, '\n'), kStrip);
}

TEST_F(Stream, DecodeWithTheNewOptions) {
    const std::string text = utf8_text(kMiB + 5, 55);
    const std::string b64 = folded_base64(text, 76);
    check(b64, kDecode | kUtf8);
    check_wrap(b64, kDecode | kUtf8, 0);
    check_wrap(b64, kDecode | kUtf8, 200);
    check_wrap(b64, kDecode, 200);
    check_wrap(b64, kDecode | kEncode, 2);
    check_wrap(b64, kDecode | kEncode, 0);
    check_wrap(b64, kDecode | kEncode | kUtf8 | kStrip, 200);
    check_wrap(folded_base64(random_bytes(kMiB + 5, 56), 76, "\r\n"), kDecode | kStrip, 0);
    check(folded_base64(text, 64, "\r\n"), kDecode | kUtf8 | kStrip);
    // -n drops the line end before decoding: the message counts the text
    // without it, and a line feed that the text decodes to stays.
    const std::string flat = base64(random_bytes(kMiB, 57));
    check(flat + "!\n", kDecode | kStrip);
    check(flat + "!\r\n", kDecode | kStrip);
    check(base64(plain_text(kMiB, 58) + "\n"), kDecode | kStrip);
    check(std::string(kMiB + 10, '\n'), kDecode | kStrip);
    check("\r\n", kDecode | kStrip);
}

TEST_F(Stream, OutputFileWithTheNewOptions) {
    const std::string in = dir + "/in", out = dir + "/out.ldif";
    const std::string value = utf8_text(2 * kMiB + 5, 59);
    spit(in, value + "\r\n");
    spit(out, "old");
    for (const auto &[args, width] : {std::pair{"-u -n -w 0", 0}, {"-u -n -w 3", 3}, {"-n -u", 77}}) {
        const std::string cmd = quote(kBin) + " " + args + " -a photo -i " + quote(in) + " -o " + quote(out);
        ASSERT_EQ(std::system(cmd.c_str()), 0) << args;
        EXPECT_TRUE(slurp(out) == writer("photo", value, LDIF_ENC_UTF8, width)) << args;
    }
    const std::string cat = "cat " + quote(in) + " | " + quote(kBin) + " -n -w 200 -a photo -o " + quote(out);
    ASSERT_EQ(std::system(("bash -c " + quote(cat)).c_str()), 0);
    EXPECT_TRUE(slurp(out) == writer("photo", value, LDIF_ENC_AUTO, 200));
    // Onto the input file itself: the second pass still sees the value
    // without its line end.
    ASSERT_EQ(std::system((quote(kBin) + " -u -n -w 3 -a photo -i " + quote(in) + " -o " + quote(in)).c_str()), 0);
    EXPECT_TRUE(slurp(in) == writer("photo", value, LDIF_ENC_UTF8, 3));
}

// ---- how the input is held --------------------------------------------------------

// Runs the tool on the read end of a pipe; the test writes to the other end.
struct Child {
    pid_t pid = -1;
    int to_child = -1;
};

Child start_on_pipe(const std::string &out) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[0], STDIN_FILENO);
        close(fds[0]);
        close(fds[1]);
        const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, STDOUT_FILENO);
        execl(kBin.c_str(), kBin.c_str(), "-B", "-a", "cn", static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fds[0]);
    return {pid, fds[1]};
}

bool write_all(int fd, const std::string &bytes) {
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

TEST_F(Stream, PipeUpToOneMebibyteStaysInMemory) {
    const std::string out = dir + "/out";
    Child child = start_on_pipe(out);
    ASSERT_GT(child.pid, 0);
    const std::string bytes = random_bytes(kMiB, 18);
    ASSERT_TRUE(write_all(child.to_child, bytes));
    // All of it is in the tool's memory now; give it time to make a file if
    // it were going to.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(held_spool(child.pid), "") << "1 MiB went to a file";
    // One byte more and the stream goes to the spool, whose name is gone.
    ASSERT_TRUE(write_all(child.to_child, "x"));
    const std::string spool = testutil::removed_spool(child.pid);
    EXPECT_NE(spool.find(" (deleted)"), std::string::npos) << spool;
    close(child.to_child);
    int status = 0;
    waitpid(child.pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(slurp(out) == writer("cn", bytes + "x", LDIF_ENC_BASE64));
}

TEST_F(Stream, ShortPipeNeedsNoTemporaryFile) {
    // The process holds no temporary file while it waits for the end of a
    // short value.
    const std::string out = dir + "/out";
    Child child = start_on_pipe(out);
    ASSERT_GT(child.pid, 0);
    ASSERT_TRUE(write_all(child.to_child, "short value"));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(held_spool(child.pid), "");
    close(child.to_child);
    int status = 0;
    waitpid(child.pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(slurp(out), "cn:: c2hvcnQgdmFsdWU=\n");
}

TEST_F(Stream, OutputFileGetsTheWholeLine) {
    const std::string in = dir + "/in", out = dir + "/out.ldif";
    const std::string value = random_bytes(2 * kMiB + 5, 19);
    spit(in, value);
    spit(out, "old");
    const std::string cmd = quote(kBin) + " -a photo -i " + quote(in) + " -o " + quote(out);
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_TRUE(slurp(out) == writer("photo", value, LDIF_ENC_AUTO));
}

TEST_F(Stream, OutputOntoTheInputFileReplacesItWhole) {
    // The file is read twice; writing it in between must not change what
    // the second read finds.
    const std::string in = dir + "/in", link = dir + "/link";
    const std::string value = random_bytes(kMiB + 100, 20);
    const std::string line = writer("photo", value, LDIF_ENC_AUTO);
    spit(in, value);
    ASSERT_EQ(std::system((quote(kBin) + " -a photo -i " + quote(in) + " -o " + quote(in)).c_str()), 0);
    EXPECT_TRUE(slurp(in) == line);

    spit(in, value);
    ASSERT_EQ(symlink(in.c_str(), link.c_str()), 0);
    ASSERT_EQ(std::system((quote(kBin) + " -a photo -i " + quote(in) + " -o " + quote(link)).c_str()), 0);
    EXPECT_TRUE(slurp(in) == line);

    spit(in, value);
    const std::string append = quote(kBin) + " -a photo < " + quote(in) + " >> " + quote(in);
    ASSERT_EQ(std::system(("bash -c " + quote(append)).c_str()), 0);
    EXPECT_TRUE(slurp(in) == value + line);
}

TEST_F(Stream, FailedWriteOfALongLine) {
    // Each way of writing the value meets a full device.
    const std::string in = dir + "/in", b64 = dir + "/in.b64";
    spit(in, random_bytes(3 * kMiB, 21));
    spit(b64, folded_base64(random_bytes(3 * kMiB, 22), 76));
    spit(dir + "/text", printable(3 * kMiB, 23));
    for (const std::string &args : {"-a photo -i " + quote(in), "-b -a photo -i " + quote(b64),
                                   "-a photo -i " + quote(dir + "/text"), "-a photo -i " + quote(in) + " -o /dev/full"}) {
        const std::string cmd = quote(kBin) + " " + args + " >/dev/full 2>" + quote(dir + "/err");
        const int raw = std::system(cmd.c_str());
        EXPECT_EQ(WEXITSTATUS(raw), 1) << args;
        EXPECT_EQ(slurp(dir + "/err"), "Failed to write output: No space left on device\n") << args;
    }
}

TEST_F(Stream, StandardInputOffsetEndsAfterTheValue) {
    // Reading a regular file in place must leave a shared offset where
    // reading it through would have: the next reader sees nothing more.
    const std::string in = dir + "/in";
    spit(in, "prefix|value");
    const std::string cmd = "{ head -c 7 >/dev/null; " + quote(kBin) + " -a cn; cat; } < " + quote(in) + " > " +
                            quote(dir + "/out");
    ASSERT_EQ(std::system(("bash -c " + quote(cmd)).c_str()), 0);
    EXPECT_EQ(slurp(dir + "/out"), "cn: value\n");
}

TEST_F(Stream, LineOfTwoGibibytesIsRefusedBeforeReading) {
    // Sparse files (no disk, no memory) that fit the input limit, of which
    // the line would not fit whatever they hold: 1.5 GiB in base64, 2 GiB - 1
    // in any form. The size alone decides; nothing of the file is read.
    const std::string path = dir + "/sparse";
    for (const auto &[options, size] : {std::pair<std::string, long long>{"-B", 1610612736LL},
                                        {"-a 'x;binary'", 1610612736LL}, {"", 2147483647LL}, {"-u -w 0", 2147483647LL}}) {
        SCOPED_TRACE(options);
        ASSERT_TRUE(testutil::write_sparse_file(path, size));
        const std::string cmd = quote(kBin) + " -a photo " + options + " -i " + quote(path) + " >" +
                                quote(dir + "/out") + " 2>" + quote(dir + "/err");
        const long before = testutil::bytes_read_by_process();
        const int raw = std::system(cmd.c_str());
        EXPECT_LT(testutil::bytes_read_by_process() - before, 1L << 20);
        EXPECT_EQ(WEXITSTATUS(raw), 1);
        EXPECT_EQ(slurp(dir + "/out"), "");
        EXPECT_EQ(slurp(dir + "/err"), "Value too large: the LDIF text would be 2 GiB or more\n");
    }
}

}  // namespace
