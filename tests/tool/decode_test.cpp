// The way back (-d): LDIF text in, the raw bytes of one value out. End to
// end through the built binary (every rule and message, the sources, -o,
// the round trip from the way there with each of its options, values past
// the pieces and the memory limit of a stream), and in-process through the
// reader itself (every piece size, an input that changes between the two
// passes).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "codec/base64.h"
#include "decode.h"
#include "input.h"
#include "support.h"

namespace {

const std::string kBin = KESTRIN_BIN;
const std::string kUsage = "Usage: " + kBin + testutil::kUsageBody;
constexpr size_t kMiB = size_t{1} << 20;
constexpr size_t kPiece = size_t{4} << 20;  // what the tool maps of a file at a time

constexpr auto &slurp = testutil::read_file;
constexpr auto &spit = testutil::write_file;
constexpr auto &quote = testutil::shell_quote;
using testutil::Outcome;
using testutil::random_bytes;

std::string base64(const std::string &bytes) { return testutil::base64_text(bytes); }

// An attribute line folded as LDIF writers fold: `width` characters on the
// first physical line, width - 1 after the space of each further one.
std::string folded(const std::string &line, size_t width, const std::string &eol = "\n") {
    std::string out = line.substr(0, width);
    for (size_t i = width; i < line.size(); i += width - 1) out += eol + " " + line.substr(i, width - 1);
    return out + eol;
}

// A text of n bytes that is one third two-byte UTF-8 characters.
std::string utf8_text(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() + 2 <= n) {
        if (rng() % 3 == 0)
            s += "\xc3\xa9";
        else
            s += static_cast<char>('a' + rng() % 26);
    }
    if (s.size() < n) s += 'z';
    return s;
}

class Decode : public testutil::ToolTest {
protected:
    // Runs a shell command line (kestrin is $K), standard input from `input`
    // (none: /dev/null), and collects standard output and error.
    Outcome sh(const std::string &line, const std::string *input = nullptr) { return sh_with(kBin, line, input); }
    // kestrin -d -a attr over the text on standard input.
    Outcome decode(const std::string &attr, const std::string &text) {
        return sh("$K -d -a " + quote(attr), &text);
    }
};

void expect_run(const Outcome &r, const std::string &out, const std::string &err, int status) {
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(r.err, err);
    EXPECT_EQ(r.status, status);
}

// ---- the rules, case by case --------------------------------------------------

struct Case {
    const char *what;
    std::string attr, text;
    std::string out;  // the value written, when status is 0
    std::string err;  // the message otherwise
    int status = 0;
};
std::ostream &operator<<(std::ostream &os, const Case &c) { return os << c.what; }

Case value(const char *what, std::string attr, std::string text, std::string out) {
    return {what, std::move(attr), std::move(text), std::move(out), "", 0};
}
// The first of n values: the others are named on standard error.
Case first_of(const char *what, std::string attr, std::string text, std::string out, int n) {
    std::string err = "kestrin: " + std::to_string(n - 1) + " more values of <" + attr + "> in the input (see --all)\n";
    return {what, std::move(attr), std::move(text), std::move(out), std::move(err), 0};
}
Case no_value(const char *what, std::string attr, std::string text) {
    std::string err = "No value of <" + attr + "> in the input\n";
    return {what, std::move(attr), std::move(text), "", std::move(err), 1};
}
Case malformed(const char *what, std::string text) {
    return {what, "cn", std::move(text), "", "Failed to base64-decode value of <cn>\n", 1};
}
Case reference(const char *what, std::string attr, std::string text, const std::string &url) {
    std::string err = "Value of <" + attr + "> is a file reference: " + url + "\n";
    return {what, std::move(attr), std::move(text), "", std::move(err), 1};
}

class DecodeRules : public Decode, public testing::WithParamInterface<Case> {};

TEST_P(DecodeRules, WriteTheValueOrTheMessage) {
    const Case &c = GetParam();
    expect_run(decode(c.attr, c.text), c.out, c.err, c.status);
}

const std::string kTwoEntries = "dn: cn=one,dc=example\ncn: one\n\ndn: cn=two,dc=example\ncn: two\nsn: Second\n";

INSTANTIATE_TEST_SUITE_P(
    Values, DecodeRules,
    testing::Values(
        value("plain", "cn", "dn: cn=x\ncn: hello\n", "hello"),
        value("the line at the very end, without a LF", "cn", "dn: cn=x\ncn: hello", "hello"),
        value("letter case of the name ignored", "JPEGphoto", "jpegPhoto:: AAEC\n", std::string("\0\1\2", 3)),
        value("a name with options, whole", "userCertificate;binary", "userCertificate;BINARY:: AAEC\n",
              std::string("\0\1\2", 3)),
        value("the second of several entries", "sn", kTwoEntries, "Second"),
        first_of("the first line that matches, across entries", "cn", kTwoEntries, "one", 2),
        first_of("the dn itself", "dn", kTwoEntries, "cn=one,dc=example", 2),
        first_of("lines before the first dn", "cn", "cn: before\ndn: cn=x\ncn: after\n", "before", 2),
        value("after a comment", "cn", "# cn: commented out\ncn: real\n", "real"),
        value("a comment's folds are the comment's", "cn", "# comment\n cn: folded into the comment\ncn: real\n",
              "real"),
        value("a version line is passed over", "cn", "version: 1\ndn: cn=x\ncn: x\n", "x"),
        value("a version line is a line like any other", "version", "version: 1\ndn: cn=x\n", "1"),
        value("a change separator", "cn", "-\ncn: x\n", "x"),
        first_of("a line without a colon is all name, its value empty", "cn", "cn\ncn: x\n", "", 2),
        value("a folded name", "jpegPhoto", "dn: cn=x\njpeg\n Photo: x\n", "x"),
        value("a folded marker", "cn", "cn:\n : Zm9v\n", "foo"),
        value("a folded fill", "cn", "cn: \n  x\n", "x"),
        value("a folded plain value", "cn", "cn: hel\n lo wor\n ld\n", "hello world"),
        value("a fold holding nothing", "cn", "cn: a\n \n b\n", "ab"),
        value("an empty line is never continued", "cn", "sn: a\n\n cn: b\ncn: c\n", "c"),
        value("the first line of the input is never a continuation", "cn", " cn: y\ncn: z\n", "z"),
        value("CR LF line ends", "cn", "dn: cn=x\r\ncn: hello\r\nsn: x\r\n", "hello"),
        value("CR LF folds", "cn", "c\r\n n: hel\r\n lo\r\n", "hello"),
        value("CR LF folds in base64", "cn", "cn:: aGVs\r\n bG8=\r\n", "hello"),
        value("every CR of a line goes", "cn", "cn: a\rb\n", "ab"),
        value("CRs before the LF", "cn", "cn: a\r\r\n", "a"),
        value("a CR at the end of the input", "cn", "cn: ab\r", "ab"),
        value("a line that begins with a CR", "cn", "\rcn: x\n", "x"),
        value("no fill", "cn", "cn:foo\n", "foo"),
        value("a tab is no fill", "cn", "cn:\tx\n", "\tx"),
        value("every space of the fill, trailing spaces kept", "cn", "cn:   a  b  \n", "a  b  "),
        value("base64 fill", "cn", "cn::   Zm9v\n", "foo"),
        value("NUL bytes in a plain value", "cn", std::string("cn: a\0b\n", 8), std::string("a\0b", 3)),
        value("NUL and high bytes in a base64 value", "x", "x:: AP+AAQ==\n", std::string("\0\xff\x80\x01", 4)),
        value("UTF-8 in base64", "cn", "cn:: SsOpcsO0bWUgTcO8bGxlcg==\n", "J\xc3\xa9r\xc3\xb4me M\xc3\xbcller"),
        value("the empty plain value", "cn", "cn:\nsn: x\n", ""),
        value("the empty plain value with its fill", "cn", "cn:   \n", ""),
        value("the empty base64 value", "cn", "cn::\n", ""),
        value("the empty base64 value with its fill", "cn", "cn:: \n", ""),
        value("the empty value at the end of the input", "cn", "cn:", ""),
        value("an option that only begins with binary", "x;binaryfoo", "x;binaryfoo: /etc/hostname\n",
              "/etc/hostname"),
        value("a bad base64 line before the match does not matter", "cn", "sn:: !!!!\ncn: x\n", "x"),
        first_of("only the first match counts", "cn", "cn: first\ncn:: !!!!\n", "first", 2),
        value("a longer or shorter name is another name", "cn", "cnx: 1\nc: 2\ncn;x: 3\ncn: 4\n", "4"),
        no_value("no such line", "sn", "dn: cn=x\ncn: x\n"),
        no_value("the name as given in the message", "CN", "dn: cn=x\nsn: x\n"),
        no_value("the binary option is part of the name", "jpegPhoto", "jpegPhoto;binary:: AAEC\n"),
        no_value("a commented-out line", "cn", "#cn: x\n"),
        no_value("empty input", "cn", ""),
        no_value("a name given with a colon matches nothing", "cn:", "cn:: Zm9v\n"),
        value("a space inside the base64 text", "cn", "cn:: Zm9v YmFy\n", "foobar"),
        value("a tab after it", "cn", "cn:: Zm9v\t\n", "foo"),
        value("a CR inside it", "cn", "cn:: Zm9v\rYmFy\n", "foobar"),
        malformed("white space only", "cn:: \t\n"),
        malformed("four form feeds", "cn:: \f\f\f\f\n"),
        malformed("no padding", "cn:: Zm9vYg\n"),
        malformed("bits under the padding", "cn:: QR==\n"),
        malformed("padding inside", "cn:: QQ==QUJD\n"),
        malformed("padding only", "cn:: ====\n"),
        malformed("a character outside the alphabet", "cn:: Zm9v_mFy\n"),
        malformed("a NUL", std::string("cn:: Zm9v\0YmFy\n", 15)),
        malformed("the first match is malformed, a later one is not", "cn:: !!!!\ncn: x\n"),
        reference("a file reference", "jpegPhoto", "dn: cn=x\njpegPhoto:< file:///etc/passwd\n", "file:///etc/passwd"),
        reference("the name as given, the URL folded", "JPEGPHOTO", "jpegphoto:<  file:///et\n c/passwd\r\n",
                  "file:///etc/passwd"),
        reference("the empty URL", "cn", "cn:<\n", ""),
        reference("a plain line under a name with the binary option", "userCertificate;binary",
                  "userCertificate;BINARY: /etc/hostname\n", "/etc/hostname")));

// ---- folds at every place ----------------------------------------------------------

TEST_F(Decode, Base64FoldedAtEveryPositionOfAGroup) {
    const std::string bytes("\0\xff" "ab\x80\n", 6);
    const std::string text = base64(bytes);  // 8 characters: two groups
    for (const std::string eol : {"\n", "\r\n"}) {
        for (size_t at = 0; at <= text.size(); ++at) {
            const std::string ldif = "dn: cn=x\ncn:: " + text.substr(0, at) + eol + " " + text.substr(at) + eol;
            SCOPED_TRACE(quote(ldif));
            expect_run(decode("cn", ldif), bytes, "", 0);
        }
        // A fold after every character.
        std::string every = "cn::";
        for (char c : " " + text) every += eol + " " + std::string(1, c);
        expect_run(decode("cn", every + eol), bytes, "", 0);
    }
}

// ---- sources and output ----------------------------------------------------------------

TEST_F(Decode, EverySourceOfInput) {
    const std::string ldif = "dn: cn=x\ncn:: aGVsbG8K\n", path = dir + "/in.ldif";
    spit(path, ldif);
    expect_run(sh("$K -d -a cn -s " + quote(ldif)), "hello\n", "", 0);
    expect_run(sh("$K -d -a cn -i " + quote(path)), "hello\n", "", 0);
    expect_run(sh("$K -d -a cn -i -", &ldif), "hello\n", "", 0);
    expect_run(sh("$K -d -a cn < " + quote(path)), "hello\n", "", 0);
    expect_run(sh("cat " + quote(path) + " | $K -d -a cn"), "hello\n", "", 0);
    expect_run(sh("$K -d -a cn -i <(cat " + quote(path) + ")"), "hello\n", "", 0);
    expect_run(sh("$K --decode --attr=cn -i " + quote(path)), "hello\n", "", 0);
}

TEST_F(Decode, StandardInputOffsetEndsAfterTheText) {
    const std::string path = dir + "/in";
    spit(path, "prefix|cn: value\n");
    expect_run(sh("{ head -c 7 >/dev/null; $K -d -a cn; cat; } < " + quote(path)), "value", "", 0);
}

TEST_F(Decode, OutputFile) {
    const std::string out = dir + "/photo.jpg";
    spit(out, "old content");
    const std::string ldif = "dn: cn=x\njpegPhoto:: /9j/4AAQ\n";
    expect_run(sh("$K -d -a jpegPhoto -o " + quote(out), &ldif), "", "", 0);
    EXPECT_EQ(slurp(out), std::string("\xff\xd8\xff\xe0\x00\x10", 6));
    // The empty value makes an empty file.
    const std::string empty = "cn:\n";
    expect_run(sh("$K -d -a cn -o " + quote(out), &empty), "", "", 0);
    struct stat st {};
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
}

TEST_F(Decode, FailuresLeaveTheOutputFileAlone) {
    const std::string out = dir + "/out";
    for (const std::string &text : {std::string("sn: x\n"), std::string("cn:: Zm9v!\n"),
                                    std::string("cn:< file:///etc/passwd\n"), std::string()}) {
        spit(out, "old content");
        const Outcome r = sh("$K -d -a cn -o " + quote(out), &text);
        EXPECT_EQ(r.status, 1) << quote(text);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(slurp(out), "old content") << quote(text);
    }
    // A value malformed only at its end, megabytes after the start, writes
    // nothing either.
    const std::string big = folded("cn:: " + base64(random_bytes(3 * kMiB, 1)) + "!", 78);
    spit(dir + "/big.ldif", big);
    spit(out, "old content");
    for (const std::string &from : {"-i " + quote(dir + "/big.ldif"), "< " + quote(dir + "/big.ldif")}) {
        expect_run(sh("$K -d -a cn -o " + quote(out) + " " + from), "", "Failed to base64-decode value of <cn>\n", 1);
        EXPECT_EQ(slurp(out), "old content");
    }
    expect_run(sh("cat " + quote(dir + "/big.ldif") + " | $K -d -a cn"), "", "Failed to base64-decode value of <cn>\n",
               1);
}

TEST_F(Decode, OutputOntoTheInputFile) {
    // The file is read twice: writing it in between must not change what
    // the second pass finds.
    const std::string path = dir + "/in";
    const std::string bytes = random_bytes(kMiB + 77, 2);
    spit(path, folded("photo:: " + base64(bytes), 78));
    expect_run(sh("$K -d -a photo -i " + quote(path) + " -o " + quote(path)), "", "", 0);
    EXPECT_TRUE(slurp(path) == bytes);
}

TEST_F(Decode, FailedWrites) {
    const std::string ldif = "cn: hello\n";
    expect_run(sh("$K -d -a cn > /dev/full", &ldif), "", "Failed to write output: No space left on device\n", 1);
    expect_run(sh("$K -d -a cn -o /dev/full", &ldif), "", "Failed to write output: No space left on device\n", 1);
    const std::string big = folded("cn:: " + base64(random_bytes(2 * kMiB, 3)), 78);
    expect_run(sh("$K -d -a cn > /dev/full", &big), "", "Failed to write output: No space left on device\n", 1);
}

TEST_F(Decode, UnreadableAndTooLargeInput) {
    const std::string missing = dir + "/missing";
    expect_run(sh("$K -d -a cn -i " + quote(missing)), "",
               "Could not read infile<" + missing + ">: No such file or directory\n", 1);
    expect_run(sh("$K -d -a cn < /"), "", "Could not read standard input: Is a directory\n", 1);
    const std::string sparse = dir + "/sparse";
    ASSERT_TRUE(testutil::write_sparse_file(sparse, 2147483648LL));
    expect_run(sh("$K -d -a cn -i " + quote(sparse)), "", "Could not read infile<" + sparse + ">: File too large\n", 1);
}

TEST_F(Decode, CommandLine) {
    expect_run(sh("$K -d -s 'cn: x'"), "", "You must specify an attribute\n" + kUsage, 2);
    for (const std::string option : {"-b", "-B", "-G", "-u", "-n", "--b64_write"}) {
        expect_run(sh("$K -d " + option + " -a cn -s 'cn: x'"), "",
                   "Options <-d> and <" + option + "> cannot be combined\n" + kUsage, 2);
    }
    expect_run(sh("$K -d -w 76 -a cn -s 'cn: x'"), "", "Options <-d> and <-w> cannot be combined\n" + kUsage, 2);
    expect_run(sh("$K --wrap=5 -d -a cn -s 'cn: x'"), "", "Options <-d> and <--wrap> cannot be combined\n" + kUsage, 2);
}

// ---- the way there and back ---------------------------------------------------------------

struct Options {
    const char *what;
    std::string args;  // for the way there
    bool base64_input = false;  // the way there reads base64 text (-b)
    bool strip_newline = false;  // the way there drops one LF or CR LF at the end (-n)
};
std::ostream &operator<<(std::ostream &os, const Options &o) { return os << o.what; }

class DecodeRoundTrip : public Decode, public testing::WithParamInterface<Options> {};

// kestrin [options] -a N | kestrin -d -a N gives back the bytes that went in.
TEST_P(DecodeRoundTrip, GivesBackTheValue) {
    const Options &o = GetParam();
    const std::vector<std::string> values = {
        "hello",
        std::string("a\0b\0", 4),
        "trailing newlines\n\n",
        "trailing CR LF\r\n",
        "  leading spaces",
        " ",
        ":colon first",
        "<less than first",
        "trailing space ",
        "J\xc3\xa9r\xc3\xb4me M\xc3\xbcller",
        utf8_text(1000, 4),
        "\xff\xfe high bytes",
        "\tleading tab",
        "inner\nline\rbreaks",
        std::string(300, 'x'),
        random_bytes(kMiB, 5),
    };
    const std::string in = dir + "/value";
    const std::vector<std::string> names = {"cn", "userCertificate;binary"};
    size_t turn = std::string(o.args).size();  // under the sanitizers, options of odd and even length start apart
    for (const std::string &v : values) {
        for (size_t k : testutil::variants(names.size(), turn)) {
            const std::string &name = names[k];
            std::string want = v;
            if (o.strip_newline && !want.empty() && want.back() == '\n')
                want.resize(want.size() - (want.size() >= 2 && want[want.size() - 2] == '\r' ? 2 : 1));
            spit(in, o.base64_input ? folded(base64(v), 76) : v);
            const Outcome r = sh("set -o pipefail; $K " + o.args + " -a " + quote(name) + " -i " + quote(in) +
                                 " | $K -d -a " + quote(name));
            SCOPED_TRACE(name + ", value of " + std::to_string(v.size()) + " bytes: " + quote(v.substr(0, 40)));
            EXPECT_TRUE(r.out == want) << r.out.size() << " bytes came back";
            EXPECT_EQ(r.err, "");
            EXPECT_EQ(r.status, 0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryOption, DecodeRoundTrip,
    testing::Values(Options{"none", ""}, Options{"B", "-B"}, Options{"G", "-G"}, Options{"b", "-b", true},
                    Options{"bB", "-b -B", true}, Options{"u", "-u"}, Options{"w0", "-w 0"}, Options{"w2", "-w 2"},
                    Options{"w3", "-w 3"}, Options{"w76", "-w 76"}, Options{"w200", "-w 200"},
                    Options{"uw2", "-u -w 2"}, Options{"n", "-n", false, true}, Options{"Bw0", "-B -w 0"}),
    [](const testing::TestParamInfo<Options> &info) { return std::string(info.param.what); });

// ---- long values, streamed --------------------------------------------------------------------

// A long LDIF text read from each source: through a pipe it is longer than
// the 1 MiB a stream may keep in memory, so it goes to the spool file.
TEST_F(Decode, LongValuesFromEverySource) {
    const std::string bytes = random_bytes(5 * kMiB + 1, 6);
    const std::string text = utf8_text(3 * kMiB, 7);
    const std::string path = dir + "/in.ldif";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"dn: cn=x\n" + folded("photo:: " + base64(bytes), 78) + "cn: x\n", bytes},
        {"dn: cn=x\r\n" + folded("photo:: " + base64(bytes), 77, "\r\n"), bytes},
        {"dn: cn=x\n" + folded("photo: " + text, 78), text},
        {"dn: cn=x\nphoto:: " + base64(bytes) + "\n", bytes},  // not folded at all
    };
    for (const auto &[ldif, want] : cases) {
        spit(path, ldif);
        for (const std::string &from : {"-i " + quote(path), "< " + quote(path), "-i <(cat " + quote(path) + ")"}) {
            const Outcome r = sh("$K -d -a photo " + from);
            SCOPED_TRACE(from);
            EXPECT_TRUE(r.out == want) << r.out.size() << " bytes, " << want.size() << " wanted";
            EXPECT_EQ(r.err, "");
            EXPECT_EQ(r.status, 0);
        }
        const Outcome piped = sh("cat " + quote(path) + " | $K -d -a photo");
        EXPECT_TRUE(piped.out == want) << piped.out.size() << " bytes through a pipe";
        EXPECT_EQ(piped.status, 0);
    }
}

// A CR, a LF and a fold's space each as the last byte of the first piece of
// a file, inside the value: the text is laid out so that the byte lands at
// offset kPiece - 1.
TEST_F(Decode, LineEndsAtTheEdgeOfAPiece) {
    const std::string bytes = random_bytes(kPiece * 3 / 4 + kMiB / 4, 8);
    const std::string body = folded("photo:: " + base64(bytes), 78, "\r\n");
    const std::string path = dir + "/in.ldif";
    for (const char *edge : {"\r", "\n", " "}) {
        const size_t at = body.rfind(edge, kPiece - 4);
        ASSERT_NE(at, std::string::npos);
        const std::string prefix = "#" + std::string(kPiece - 1 - at - 2, 'x') + "\n";  // a comment line
        const std::string ldif = prefix + body;
        ASSERT_EQ(ldif[kPiece - 1], edge[0]);
        spit(path, ldif);
        const Outcome r = sh("$K -d -a photo -i " + quote(path));
        EXPECT_TRUE(r.out == bytes) << "edge " << quote(edge) << ": " << r.out.size() << " bytes";
        EXPECT_EQ(r.status, 0);
    }
}

// ---- the reader in-process ---------------------------------------------------------------------

using kestrin::tool::decode_ldif_text;
using kestrin::tool::DecodedText;
using Kind = DecodedText::Kind;

// Every piece size from one byte to the whole text gives the same value.
TEST(DecodeReader, EveryPieceSize) {
    const std::string bytes = random_bytes(3000, 9);
    const std::string ldif = "version: 1\r\n# a comment\r\n  folded\r\n\r\ndn: cn=x\r\n" +
                             folded("jpeg\r\n Photo:: " + base64(bytes), 60, "\r\n") + "cn: after\r\n";
    const std::string plain = "dn: cn=x\ncn: a\r\n b\rc \ncn: second\n";
    for (size_t piece = 1; piece <= ldif.size(); ++piece) {
        const DecodedText got = decode_ldif_text(ldif, "JPEGPHOTO", piece);
        ASSERT_EQ(got.kind, Kind::kValue) << "pieces of " << piece;
        ASSERT_TRUE(got.bytes == bytes) << "pieces of " << piece;
        ASSERT_TRUE(got.second_pass_same);
        const DecodedText text = decode_ldif_text(plain, "cn", piece);
        ASSERT_EQ(text.bytes, "abc ") << "pieces of " << piece;
    }
}

TEST(DecodeReader, Outcomes) {
    EXPECT_EQ(decode_ldif_text("cn:: Zm9v", "cn", 2).kind, Kind::kValue);
    EXPECT_EQ(decode_ldif_text("cn:: Zm9", "cn", 2).kind, Kind::kMalformed);
    EXPECT_EQ(decode_ldif_text("sn:: Zm9v", "cn", 2).kind, Kind::kNoValue);
    const DecodedText ref = decode_ldif_text("cn:< file:///x\n y\n", "CN", 3);
    EXPECT_EQ(ref.kind, Kind::kFileReference);
    EXPECT_EQ(ref.bytes, "file:///xy");
}

// A file that changes between the two passes is an input error (EIO), never
// a different value.
TEST(DecodeReader, InputThatChangesBetweenThePasses) {
    testutil::TempDir temp;
    const std::string path = temp.path() + "/in.ldif", out = temp.path() + "/out";
    for (const std::string &value : {std::string("cn: hello\n"), "cn:: " + base64(random_bytes(600000, 10)) + "\n"}) {
        testutil::write_file(path, value);
        kestrin::tool::Input input;
        ASSERT_EQ(input.take_file(path.c_str()), 0);
        kestrin::tool::LdifValue ldif;
        ASSERT_EQ(ldif.prepare(input, "cn"), 0);
        std::string changed = value;
        changed[6] = changed[6] == 'A' ? 'B' : 'A';
        testutil::write_file(path, changed);
        const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};  // a time unlike the first
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        errno = 0;
        EXPECT_EQ(ldif.write(input, fd), kestrin::tool::Written::kInputFailed);
        EXPECT_EQ(errno, EIO);
        close(fd);
    }
}

}  // namespace
