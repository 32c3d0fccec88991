// End-to-end: the tool reads its input in pieces and never holds the whole
// value, yet must write exactly what the library writer writes for the whole
// value at once. Each case runs the built binary from every kind of source
// and compares its bytes with ldif_write_attr over the whole value, for values
// around every boundary of the streaming: the fold, the 1 MiB pieces of a
// file, the 1 MiB a pipe may keep in memory, base64 groups and line breaks
// cut between pieces, and a decision that only the last piece can make.
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
// tool's value always is).
std::string writer(const std::string &attr, const std::string &value, int mode) {
    int count = 0;
    char *text = ldif_write_attr(nullptr, &count, attr.c_str(), value.c_str(), static_cast<int>(value.size()), mode);
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

enum Flags { kAuto = 0, kDecode = 1, kEncode = 2, kGuess = 4 };

std::string options(int flags) {
    std::string o;
    if (flags & kDecode) o += "-b ";
    if (flags & kEncode) o += "-B ";
    if (flags & kGuess) o += "-G ";
    return o;
}

// What the tool must write for this input: the input decoded as one text
// when asked, the mode as -B and -G choose it, then the writer.
struct Expected {
    std::string out, err;
    int status;
};

Expected expected(const std::string &attr, const std::string &input, int flags) {
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
    int mode = (flags & kEncode) ? LDIF_ENC_BASE64 : LDIF_ENC_AUTO;
    if (flags & kGuess) {
        mode = LDIF_ENC_AUTO;
        for (unsigned char c : value)
            if (c & 0x80) mode = LDIF_ENC_BASE64;
    }
    // The tool's value is raw bytes: under a ";binary" name it is base64.
    if (attr.find(";binary") != std::string::npos) mode = LDIF_ENC_BASE64;
    // The tool prints the name as given, options and all, where the writer
    // would leave the binary option out: the writer's line for a name of the
    // same length without options, with the name put back.
    if (attr.find(';') == std::string::npos || attr.size() >= 77) return {writer(attr, value, mode), "", 0};
    std::string plain_name = attr;
    std::replace(plain_name.begin(), plain_name.end(), ';', '_');
    std::string line = writer(plain_name, value, mode);
    return {line.replace(0, attr.size(), attr), "", 0};
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
    Outcome run(const std::string &attr, const std::string &input, int flags, From from) {
        const std::string in = dir + "/input", out = dir + "/stdout", err = dir + "/stderr";
        spit(in, input);
        const std::string tool = quote(kBin) + " " + options(flags) + "-a " + quote(attr);
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
        const Expected want = expected(attr, input, flags);
        std::vector<From> sources = {From::kFile, From::kStdinFile, From::kPipe, From::kFifoArg};
        // A -s value is text: no NUL, no trailing line feed (the shell drops
        // it), and no leading '-' (it would read as an option).
        if (input.size() < 100000 && input.find('\0') == std::string::npos &&
            (input.empty() || (input.back() != '\n' && input.front() != '-')))
            sources.push_back(From::kString);
        for (From from : sources) {
            const Outcome got = run(attr, input, flags, from);
            SCOPED_TRACE(std::string(name_of(from)) + " " + options(flags) + "input of " +
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

TEST_F(Stream, LineOfTwoGibibytesIsRefusedBeforeWriting) {
    // 1.5 GiB of (sparse) zero bytes: the input fits, its base64 text does not.
    const std::string path = dir + "/sparse";
    ASSERT_TRUE(testutil::write_sparse_file(path, 1610612736LL));  // no disk, no memory
    const std::string cmd = quote(kBin) + " -B -a photo -i " + quote(path) + " >" + quote(dir + "/out") + " 2>" +
                            quote(dir + "/err");
    const int raw = std::system(cmd.c_str());
    EXPECT_EQ(WEXITSTATUS(raw), 1);
    EXPECT_EQ(slurp(dir + "/out"), "");
    EXPECT_EQ(slurp(dir + "/err"),
              "Value too large: the LDIF text would be 2 GiB or more\nFailed to write ldif buffer\n");
}

}  // namespace
