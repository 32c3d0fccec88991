// End-to-end: runs the built kestrin binary and compares exact bytes,
// messages and exit statuses.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "support.h"

namespace {

const std::string kBin = KESTRIN_BIN;

const std::string kUsage = "Usage: " + kBin + testutil::kUsageBody;

// The short names these tests use for the shared file helpers.
constexpr auto &slurp = testutil::read_file;
constexpr auto &spit = testutil::write_file;
constexpr auto &quote = testutil::shell_quote;
using testutil::Outcome;
using testutil::random_bytes;
using testutil::unfold;

class Cli : public testutil::ToolTest {
protected:
    // Runs kestrin through bash with the given arguments (already shell
    // words, so that redirections and <(...) can be used), feeding `input`
    // on standard input (none: /dev/null).
    // `before` runs in the same shell first (umask, ulimit).
    Outcome sh(const std::string &words, const std::string *input = nullptr,
           const std::string &stdout_to = "", const std::string &before = "") {
        const std::string in = dir + "/.stdin", out = dir + "/.stdout", err = dir + "/.stderr";
        if (input) spit(in, *input);
        const std::string cmd = before + "{ " + quote(kBin) + " " + words + "; } <" + (input ? quote(in) : "/dev/null") +
                                " >" + (stdout_to.empty() ? quote(out) : stdout_to) + " 2>" + quote(err);
        Outcome r = testutil::run_bash(cmd, out, err);
        std::remove(out.c_str());
        return r;
    }
    Outcome run(const std::vector<std::string> &args, const std::string *input = nullptr) {
        std::string words;
        for (const auto &a : args) words += quote(a) + " ";
        return sh(words, input);
    }
    Outcome run_in(const std::vector<std::string> &args, const std::string &input) { return run(args, &input); }
};

void expect_run(const Outcome &r, const std::string &out, const std::string &err, int status) {
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(r.err, err);
    EXPECT_EQ(r.status, status);
}

TEST_F(Cli, StringValue) { expect_run(run({"-a", "cn", "-s", "hello"}), "cn: hello\n", "", 0); }

TEST_F(Cli, StandardInputKeepsItsTrailingNewline) {
    expect_run(run_in({"-a", "cn"}, "hello\n"), "cn:: aGVsbG8K\n", "", 0);
}

TEST_F(Cli, NulBytesKeepTheWholeValue) {
    expect_run(run_in({"-a", "x"}, std::string("a\0b", 3)), "x:: YQBi\n", "", 0);
    spit(dir + "/photo", std::string("\xff\xd8\xff\0\0JFIF", 9));
    expect_run(run({"-a", "jpegPhoto", "-i", dir + "/photo"}), "jpegPhoto:: /9j/AABKRklG\n", "", 0);
}

TEST_F(Cli, NoArgumentsAsksForAnAttribute) {
    expect_run(run({}), "", "You must specify an attribute\n" + kUsage, 2);
}

TEST_F(Cli, StringAndFileTogether) {
    spit(dir + "/f", "x");
    expect_run(run({"-a", "cn", "-s", "v", "-i", dir + "/f"}), "",
               "Input can only be one of string/file/stdin\n" + kUsage, 1);
    expect_run(run({"-s", "v", "-i", dir + "/f"}), "", "You must specify an attribute\n" + kUsage, 2);
}

TEST_F(Cli, EmptyInputFailsSilently) {
    spit(dir + "/empty", "");
    expect_run(run({"-a", "cn", "-s", ""}), "", "", 1);
    expect_run(run({"-a", "cn", "-i", dir + "/empty"}), "", "", 1);
    expect_run(run_in({"-a", "cn"}, ""), "", "", 1);
}

TEST_F(Cli, EncodingChoice) {
    expect_run(run({"-a", "cn", "-B", "-s", "hi"}), "cn:: aGk=\n", "", 0);
    expect_run(run({"-a", "cn", "-B", "-G", "-s", "hi"}), "cn: hi\n", "", 0);
    expect_run(run({"-a", "cn", "-G", "-s", "h\xc3\xa9"}), "cn:: aMOp\n", "", 0);
    expect_run(run({"-a", "cn", "-s", " x"}), "cn:: IHg=\n", "", 0);
    // A trailing space too, in every automatic mode: editors trim it.
    for (const char *mode : {"-a", "-Ga", "-ua"})
        expect_run(run({mode, "description", "-s", "trailing "}), "description:: dHJhaWxpbmcg\n", "", 0);
    expect_run(run({"-a", "description", "-s", "inner space"}), "description: inner space\n", "", 0);
}

TEST_F(Cli, DecodeInput) {
    expect_run(run_in({"-b", "-a", "cn"}, "SGVsbG8=\n"), "cn: Hello\n", "", 0);
    expect_run(run_in({"-b", "-a", "cn"}, "\n"), "", "Failed to base64-decode input(1,0)!\n", 1);
    expect_run(run_in({"-b", "-a", "cn"}, "!!!!"), "", "Failed to base64-decode input(4,-1)!\n", 1);
    expect_run(run({"-b", "-a", "x", "-s", "YQBi"}), "x:: YQBi\n", "", 0);
    // A NUL is no base64 character: nothing after it is silently dropped.
    expect_run(run_in({"-b", "-a", "cn"}, std::string("SGVsbG8=\0QQ==", 13)), "",
               "Failed to base64-decode input(13,-1)!\n", 1);
    expect_run(run_in({"-b", "-a", "cn"}, std::string("SGVs\0bG8=", 9)), "", "Failed to base64-decode input(9,-1)!\n", 1);
    expect_run(run_in({"-b", "-a", "cn"}, std::string("\0", 1)), "", "Failed to base64-decode input(1,-1)!\n", 1);
    expect_run(run_in({"-b", "-B", "-a", "cn"}, std::string("SGVsbG8=\n\0", 10)), "",
               "Failed to base64-decode input(10,-1)!\n", 1);
}

TEST_F(Cli, Version) {
    expect_run(run({"-V"}), "", "kestrin 1.0.7\n", 0);
    expect_run(run({"-a", "cn", "--version", "-s"}), "", "kestrin 1.0.7\n", 0);
    expect_run(run({"-V", "-h"}), kUsage, "", 0);
}

TEST_F(Cli, HelpAnywhereWins) {
    expect_run(run({"-h"}), kUsage, "", 0);
    expect_run(run({"-a", "cn", "-s", "-h"}), kUsage, "", 0);
    expect_run(run({"-x", "--help"}), kUsage, "", 0);
    expect_run(run({"-a", "cn", "--", "-h"}), kUsage, "", 0);
}

TEST_F(Cli, LongNamesAndPathsAreUsedWhole) {
    const std::string name(300, 'n');
    const Outcome r = run({"-a", name, "-s", "v"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(unfold(r.out), name + ": v\n");

    const std::string sub = dir + "/" + std::string(200, 'd');
    ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
    const std::string in = sub + "/" + std::string(100, 'i'), out = sub + "/" + std::string(100, 'o');
    spit(in, "value");
    expect_run(run({"-a", "cn", "-i", in, "-o", out}), "", "", 0);
    EXPECT_EQ(slurp(out), "cn: value\n");
}

TEST_F(Cli, OutputFile) {
    const std::string out = dir + "/out.ldif";
    spit(out, "old content that is longer");
    expect_run(run({"-a", "cn", "-s", "hello", "-o", out}), "", "", 0);
    EXPECT_EQ(slurp(out), "cn: hello\n");
    // A failure before the text is built leaves the file alone.
    expect_run(run({"-a", "cn", "-s", "", "-o", out}), "", "", 1);
    EXPECT_EQ(slurp(out), "cn: hello\n");
    const std::string bad = dir + "/missing/out";
    expect_run(run({"-a", "cn", "-s", "x", "-o", bad}), "", "Could no open outfile<" + bad + ">\n", 1);
}

TEST_F(Cli, FailedWritesFail) {
    expect_run(run({"-a", "cn", "-s", "hello", "-o", "/dev/full"}), "",
               "Failed to write output: No space left on device\n", 1);
    const Outcome r = sh("-a cn -s hello", nullptr, "/dev/full");
    EXPECT_EQ(r.err, "Failed to write output: No space left on device\n");
    EXPECT_EQ(r.status, 1);
    const std::string big(1 << 20, 'x');
    const Outcome large = sh("-a cn", &big, "/dev/full");
    EXPECT_EQ(large.err, "Failed to write output: No space left on device\n");
    EXPECT_EQ(large.status, 1);
}

TEST_F(Cli, UnreadableInputFiles) {
    const std::string missing = dir + "/missing";
    expect_run(run({"-a", "cn", "-i", missing}), "",
               "Could not read infile<" + missing + ">: No such file or directory\n", 1);
    expect_run(run({"-a", "cn", "-i", dir}), "", "Could not read infile<" + dir + ">: Is a directory\n", 1);
    if (geteuid() != 0) {  // root reads everything
        const std::string locked = dir + "/locked";
        spit(locked, "x");
        chmod(locked.c_str(), 0);
        expect_run(run({"-a", "cn", "-i", locked}), "",
                   "Could not read infile<" + locked + ">: Permission denied\n", 1);
    }
}

TEST_F(Cli, TwoGibibyteInputFailsAtOnce) {
    const std::string path = dir + "/sparse";
    ASSERT_TRUE(testutil::write_sparse_file(path, 2147483648LL));  // no disk, no memory
    expect_run(run({"-a", "cn", "-i", path}), "", "Could not read infile<" + path + ">: File too large\n", 1);
}

TEST_F(Cli, UnreadableStandardInput) {
    const Outcome r = sh("-a cn < /");
    expect_run(r, "", "Could not read standard input: Is a directory\n", 1);
}

TEST_F(Cli, InputFilesThatCannotSeek) {
    expect_run(sh("-a cn -i <(printf 'piped\\n')"), "cn:: cGlwZWQK\n", "", 0);
    const std::string fifo = dir + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    expect_run(sh("-a cn -i " + quote(fifo) + " & printf 'fifo value' > " + quote(fifo) + "; wait"),
               "cn: fifo value\n", "", 0);
    const std::string stdin_bytes = "via dev stdin";
    expect_run(sh("-a cn -i /dev/stdin", &stdin_bytes), "cn: via dev stdin\n", "", 0);
}


TEST_F(Cli, LargeBinaryValueRoundTrips) {
    const std::string bytes = random_bytes(3 << 20, 42);
    const Outcome r = run_in({"-B", "-a", "photo"}, bytes);
    ASSERT_EQ(r.status, 0);
    size_t start = 0;
    for (size_t nl; (nl = r.out.find('\n', start)) != std::string::npos; start = nl + 1)
        ASSERT_LE(nl - start + 1, 78u);
    // Decode the unfolded value with the tool itself: -b then -B gives it back.
    const std::string value = unfold(r.out).substr(8);
    const Outcome back = run_in({"-b", "-B", "-a", "photo"}, value);
    EXPECT_EQ(back.out, r.out);
}

TEST_F(Cli, SpoolFileIsUnlinkedWhileReadingAndAfterSigterm) {
    // The spool is made in $TMPDIR, or in /tmp when that is unset or empty.
    for (const auto &[tmpdir, where] : std::vector<std::pair<const char *, std::string>>{
             {nullptr, "/tmp"}, {"", "/tmp"}, {dir.c_str(), dir}}) {
        SCOPED_TRACE(where);
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (tmpdir)
                setenv("TMPDIR", tmpdir, 1);
            else
                unsetenv("TMPDIR");
            dup2(fds[0], STDIN_FILENO);
            close(fds[0]);
            close(fds[1]);
            const int devnull = open("/dev/null", O_WRONLY);
            dup2(devnull, STDOUT_FILENO);
            execl(kBin.c_str(), kBin.c_str(), "-a", "cn", static_cast<char *>(nullptr));
            _exit(127);
        }
        close(fds[0]);
        // More than the 1 MiB a stream may keep in memory, but not its end.
        const std::string partial((1 << 20) + 1, 'p');
        for (size_t done = 0; done < partial.size();) {
            const ssize_t n = write(fds[1], partial.data() + done, partial.size() - done);
            ASSERT_GT(n, 0);
            done += static_cast<size_t>(n);
        }
        // The tool, blocked on the rest of the stream, holds its temporary file
        // open with the name already removed.
        const std::string spool = testutil::removed_spool(pid, where);
        EXPECT_NE(spool.find(" (deleted)"), std::string::npos) << spool;
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
        close(fds[1]);
        EXPECT_TRUE(WIFSIGNALED(status));
    }
}

TEST_F(Cli, SpoolInADirectoryThatCannotBeWrittenFails) {
    const Outcome r = sh("-a cn < <(head -c 1100000 /dev/zero)", nullptr, "",
                         "export TMPDIR=" + quote(dir + "/missing") + "; ");
    expect_run(r, "", "Could not read standard input: No such file or directory\n", 1);
}

// ---- command-line errors -----------------------------------------------------

struct ErrorCase {
    std::vector<std::string> args;
    std::string message;  // on standard error, before the usage
};
std::ostream &operator<<(std::ostream &os, const ErrorCase &c) {
    for (const auto &a : c.args) os << '<' << a << "> ";
    return os;
}
class CommandLineErrors : public Cli, public testing::WithParamInterface<ErrorCase> {};

// Each error prints its message and the usage and exits with 2 before any
// input is read or output written: the missing input file is never looked at
// and the output file never created.
TEST_P(CommandLineErrors, MessageUsageAndStatusTwoWithNothingReadOrWritten) {
    const std::string out = dir + "/out.ldif", missing = dir + "/missing";
    std::vector<std::string> args = {"-o", out, "-i", missing};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    expect_run(run(args), "", GetParam().message + kUsage, 2);
    EXPECT_EQ(access(out.c_str(), F_OK), -1) << "the output file was created";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLineErrors,
    testing::Values(
        // Unknown options, named as written; the first error wins.
        ErrorCase{{"-x"}, "Unknown option <-x>\n"},
        ErrorCase{{"-a", "cn", "--bogus", "-y"}, "Unknown option <--bogus>\n"},
        ErrorCase{{"-x", "-V"}, "Unknown option <-x>\n"},
        ErrorCase{{"-x", "stray"}, "Unknown option <-x>\n"},
        ErrorCase{{"-x", "-a"}, "Unknown option <-x>\n"},
        ErrorCase{{"--b64_read=1", "-a", "cn"}, "Unknown option <--b64_read=1>\n"},
        ErrorCase{{"--attr=", "--version=yes"}, "Unknown option <--version=yes>\n"},
        ErrorCase{{"-acn"}, "Unknown option <-acn>\n"},
        ErrorCase{{"-ab", "cn"}, "Unknown option <-ab>\n"},
        ErrorCase{{"-bx"}, "Unknown option <-bx>\n"},
        ErrorCase{{"-a", "cn", "-"}, "Unknown option <->\n"},
        ErrorCase{{"--b"}, "Unknown option <--b>\n"},
        ErrorCase{{"-attr", "cn"}, "Unknown option <-attr>\n"},
        ErrorCase{{"-battr", "cn"}, "Unknown option <-battr>\n"},
        ErrorCase{{"-a=cn"}, "Unknown option <-a=cn>\n"},
        // Arguments that are not options.
        ErrorCase{{"-a", "cn", "photo.jpg"}, "Unexpected argument <photo.jpg>\n"},
        ErrorCase{{"stray", "-x"}, "Unexpected argument <stray>\n"},
        ErrorCase{{"xb", "-a", "cn", "-s", "aGk="}, "Unexpected argument <xb>\n"},
        ErrorCase{{"", "-a", "cn"}, "Unexpected argument <>\n"},
        ErrorCase{{"-a", "cn", "--", "-s", "x"}, "Unexpected argument <-s>\n"},
        ErrorCase{{"-a", "cn", "--", "--"}, "Unexpected argument <-->\n"},
        ErrorCase{{"--", "-V"}, "Unexpected argument <-V>\n"},
        // Values that are missing or are options themselves.
        ErrorCase{{"-a"}, "Option <-a> needs a value\n"},
        ErrorCase{{"-a", "cn", "--string"}, "Option <--string> needs a value\n"},
        ErrorCase{{"-a", "cn", "-s", "-B"}, "Option <-s> needs a value\n"},
        ErrorCase{{"-a", "--attr", "cn"}, "Option <-a> needs a value\n"},
        ErrorCase{{"-a", "cn", "-o"}, "Option <-o> needs a value\n"},
        ErrorCase{{"-Ba"}, "Option <-Ba> needs a value\n"},
        ErrorCase{{"-bBs", "-G", "-a", "cn"}, "Option <-bBs> needs a value\n"},
        // Fold widths: a decimal number, 0 or 2..2147483647, nothing else.
        ErrorCase{{"-a", "cn", "-w", "1"}, "Invalid wrap width <1>\n"},
        ErrorCase{{"-w", "-1"}, "Invalid wrap width <-1>\n"},
        ErrorCase{{"-w", "-5", "-a", "cn"}, "Invalid wrap width <-5>\n"},
        ErrorCase{{"-w", "x"}, "Invalid wrap width <x>\n"},
        ErrorCase{{"-w", ""}, "Invalid wrap width <>\n"},
        ErrorCase{{"-w", "2147483648"}, "Invalid wrap width <2147483648>\n"},
        ErrorCase{{"-w", "4294967298"}, "Invalid wrap width <4294967298>\n"},  // 2 modulo 2^32
        ErrorCase{{"-w", "99999999999999999999"}, "Invalid wrap width <99999999999999999999>\n"},
        ErrorCase{{"-w", " 5"}, "Invalid wrap width < 5>\n"},
        ErrorCase{{"-w", "5 "}, "Invalid wrap width <5 >\n"},
        ErrorCase{{"-w", "5x"}, "Invalid wrap width <5x>\n"},
        ErrorCase{{"-w", "+5"}, "Invalid wrap width <+5>\n"},
        ErrorCase{{"-w", "0x10"}, "Invalid wrap width <0x10>\n"},
        ErrorCase{{"-w", "1e3"}, "Invalid wrap width <1e3>\n"},
        ErrorCase{{"--wrap", "1"}, "Invalid wrap width <1>\n"},
        ErrorCase{{"--wrap=1"}, "Invalid wrap width <1>\n"},
        ErrorCase{{"--wrap="}, "Invalid wrap width <>\n"},
        ErrorCase{{"-uw", "1"}, "Invalid wrap width <1>\n"},
        // The width's value is the next argument: there is no joined short form.
        ErrorCase{{"-w5", "-a", "cn"}, "Unknown option <-w5>\n"},
        ErrorCase{{"-uw5"}, "Unknown option <-uw5>\n"},
        ErrorCase{{"-wu", "5"}, "Unknown option <-wu>\n"},
        ErrorCase{{"--utf8=1"}, "Unknown option <--utf8=1>\n"},
        ErrorCase{{"--strip-newline=yes"}, "Unknown option <--strip-newline=yes>\n"},
        ErrorCase{{"--strip_newline"}, "Unknown option <--strip_newline>\n"},
        ErrorCase{{"-a", "cn", "-w"}, "Option <-w> needs a value\n"},
        ErrorCase{{"--wrap"}, "Option <--wrap> needs a value\n"},
        ErrorCase{{"-w", "-u", "-a", "cn"}, "Option <-w> needs a value\n"},
        ErrorCase{{"-w", "--strip-newline"}, "Option <-w> needs a value\n"},
        ErrorCase{{"-nuw"}, "Option <-nuw> needs a value\n"},
        // -u and -G cannot be combined, in either order or spelling; the
        // message names the short options and comes before the check for
        // an attribute.
        ErrorCase{{"-u", "-G"}, "Options <-G> and <-u> cannot be combined\n"},
        ErrorCase{{"-G", "-u"}, "Options <-G> and <-u> cannot be combined\n"},
        ErrorCase{{"--utf8", "--b64_guess"}, "Options <-G> and <-u> cannot be combined\n"},
        ErrorCase{{"--b64_guess", "--utf8"}, "Options <-G> and <-u> cannot be combined\n"},
        ErrorCase{{"-uG"}, "Options <-G> and <-u> cannot be combined\n"},
        ErrorCase{{"-a", "cn", "-s", "x", "-B", "-G", "-u"}, "Options <-G> and <-u> cannot be combined\n"},
        ErrorCase{{"-w", "5", "-u", "-G", "-n"}, "Options <-G> and <-u> cannot be combined\n"},
        // The first error on the command line wins; the combination is only
        // looked at once the whole command line has been read.
        ErrorCase{{"-x", "-w", "1"}, "Unknown option <-x>\n"},
        ErrorCase{{"-w", "1", "-x"}, "Invalid wrap width <1>\n"},
        ErrorCase{{"-w", "1", "-V"}, "Invalid wrap width <1>\n"},
        ErrorCase{{"-w", "1", "-w", "5"}, "Invalid wrap width <1>\n"},
        ErrorCase{{"-w", "5", "-w", "1"}, "Invalid wrap width <1>\n"},
        ErrorCase{{"-w", "x", "stray"}, "Invalid wrap width <x>\n"},
        ErrorCase{{"stray", "-w", "x"}, "Unexpected argument <stray>\n"},
        ErrorCase{{"-u", "-G", "-x"}, "Unknown option <-x>\n"},
        ErrorCase{{"-u", "-G", "-w", "1"}, "Invalid wrap width <1>\n"},
        ErrorCase{{"-w", "x", "-u", "-G"}, "Invalid wrap width <x>\n"},
        ErrorCase{{"-u", "-G", "stray"}, "Unexpected argument <stray>\n"},
        ErrorCase{{"-G", "-u", "-a"}, "Option <-a> needs a value\n"},
        // Attribute descriptions the writer refuses: a colon, a line break,
        // a leading space, or a leading '#' (it would read as a comment).
        ErrorCase{{"-a", "c:n"}, "Invalid attribute description <c:n>\n"},
        ErrorCase{{"-a", " cn"}, "Invalid attribute description < cn>\n"},
        ErrorCase{{"-a", "#cn"}, "Invalid attribute description <#cn>\n"},
        ErrorCase{{"-a", "c\nn", "-B"}, "Invalid attribute description <c\nn>\n"},
        ErrorCase{{"-a", "cn\r", "-b"}, "Invalid attribute description <cn\r>\n"}));

TEST_F(Cli, AnyNameMayBeLookedForWithDecode) {
    // -d writes no name: one the writer refuses is simply not found.
    expect_run(run_in({"-d", "-a", "#cn"}, "dn: x\n#cn: v\n"), "", "No value of <#cn> in the input\n", 1);
}

TEST_F(Cli, NoAttributeAfterAnErrorFreeCommandLine) {
    // Without a command-line error the old checks and statuses stand.
    expect_run(run({"--", }), "", "You must specify an attribute\n" + kUsage, 2);
    expect_run(run({"--attr=", "-s", "x"}), "", "You must specify an attribute\n" + kUsage, 2);
}

TEST_F(Cli, VersionEndsTheRunWhereItStands) {
    expect_run(run({"-V", "-x", "stray"}), "", "kestrin 1.0.7\n", 0);
    expect_run(run({"-BV", "-a"}), "", "kestrin 1.0.7\n", 0);
    expect_run(run({"-a", "cn", "-s", "v", "-V"}), "", "kestrin 1.0.7\n", 0);
}

// ---- the GNU forms against their spelled-out equivalents ---------------------

std::string repeat(const std::string &text, size_t times) {
    std::string out;
    for (size_t i = 0; i < times; ++i) out += text;
    return out;
}

struct FormCase {
    std::vector<std::string> gnu, spelled;  // "@/" stands for the test directory
    std::string input;                     // on standard input
    std::string out;                       // the expected standard output
    int status;
};
std::ostream &operator<<(std::ostream &os, const FormCase &c) {
    for (const auto &a : c.gnu) os << '<' << a << "> ";
    return os;
}
class GnuForms : public Cli, public testing::WithParamInterface<FormCase> {
protected:
    std::vector<std::string> in_dir(std::vector<std::string> args) const {
        for (auto &a : args)
            if (const size_t at = a.find("@/"); at != std::string::npos) a.replace(at, 1, dir);
        return args;
    }
};

TEST_P(GnuForms, GiveTheSameBytesAsTheSpelledOutOptions) {
    const auto &c = GetParam();
    spit(dir + "/in", "file value");
    const Outcome gnu = run_in(in_dir(c.gnu), c.input);
    const std::string gnu_file = slurp(dir + "/out");
    std::remove((dir + "/out").c_str());
    const Outcome spelled = run_in(in_dir(c.spelled), c.input);
    const std::string spelled_file = slurp(dir + "/out");
    expect_run(gnu, c.out, "", c.status);
    expect_run(spelled, gnu.out, gnu.err, gnu.status);
    EXPECT_EQ(gnu_file, spelled_file);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GnuForms,
    testing::Values(
        FormCase{{"--attr=cn", "--string=hi"}, {"--attr", "cn", "--string", "hi"}, "", "cn: hi\n", 0},
        FormCase{{"-bB", "-a", "cn", "-s", "aGk="}, {"-b", "-B", "-a", "cn", "-s", "aGk="}, "", "cn:: aGk=\n", 0},
        FormCase{{"-bG", "-a", "cn", "-s", "aMOp"}, {"-b", "-G", "-a", "cn", "-s", "aMOp"}, "", "cn:: aMOp\n", 0},
        FormCase{{"-Bb", "-a", "cn"}, {"-B", "-b", "-a", "cn"}, "SGk=\n", "cn:: SGk=\n", 0},
        FormCase{{"-Ba", "cn", "-s", "hi"}, {"-B", "-a", "cn", "-s", "hi"}, "", "cn:: aGk=\n", 0},
        FormCase{{"-bBa", "cn"}, {"-b", "-B", "-a", "cn"}, "aGk=", "cn:: aGk=\n", 0},
        FormCase{{"-BGs", "hi", "-a", "cn"}, {"-B", "-G", "-s", "hi", "-a", "cn"}, "", "cn: hi\n", 0},
        FormCase{{"-a", "cn", "-s", "x", "--"}, {"-a", "cn", "-s", "x"}, "", "cn: x\n", 0},
        FormCase{{"--attr=cn", "--string="}, {"-a", "cn", "-s", ""}, "", "", 1},
        FormCase{{"--attr=a=b", "--string=c=d"}, {"-a", "a=b", "-s", "c=d"}, "", "a=b: c=d\n", 0},
        FormCase{{"--attr=cn", "--infile=@/in"}, {"-a", "cn", "-i", "@/in"}, "", "cn: file value\n", 0},
        FormCase{{"-a", "cn", "-s", "v", "--out=@/out"}, {"-a", "cn", "-s", "v", "-o", "@/out"}, "", "", 0},
        FormCase{{"-a", "cn", "-i", "-"}, {"-a", "cn"}, "stdin value\n", "cn:: c3RkaW4gdmFsdWUK\n", 0},
        FormCase{{"-a", "cn", "--infile=-"}, {"-a", "cn"}, "stdin", "cn: stdin\n", 0},
        FormCase{{"-a", "cn", "-s", "v", "-o", "-"}, {"-a", "cn", "-s", "v"}, "", "cn: v\n", 0},
        FormCase{{"-a", "cn", "-i", "-", "--out=-"}, {"-a", "cn"}, "both", "cn: both\n", 0},
        FormCase{{"-s", "-", "-a", "cn"}, {"--string=-", "--attr", "cn"}, "", "cn: -\n", 0},
        // The fold width, UTF-8 text and the final newline.
        FormCase{{"-w", "5", "-a", "cn", "-s", "hello world"}, {"--wrap", "5", "-a", "cn", "-s", "hello world"}, "",
                 "cn: h\n ello\n  wor\n ld\n", 0},
        FormCase{{"--wrap=5", "-a", "cn", "-s", "hello world"}, {"-w", "5", "-a", "cn", "-s", "hello world"}, "",
                 "cn: h\n ello\n  wor\n ld\n", 0},
        FormCase{{"-a", "cn", "-s", std::string(80, 'v')}, {"-w", "77", "-a", "cn", "-s", std::string(80, 'v')}, "",
                 "cn: " + std::string(73, 'v') + "\n " + std::string(7, 'v') + "\n", 0},
        FormCase{{"--wrap=0", "-a", "cn", "-s", std::string(80, 'v')}, {"-w", "0", "-a", "cn", "-s", std::string(80, 'v')},
                 "", "cn: " + std::string(80, 'v') + "\n", 0},
        FormCase{{"-u", "-a", "cn", "-s", "\xc3\x85"}, {"--utf8", "-a", "cn", "-s", "\xc3\x85"}, "", "cn: \xc3\x85\n", 0},
        FormCase{{"-n", "-a", "cn"}, {"--strip-newline", "-a", "cn"}, "x\n", "cn: x\n", 0},
        FormCase{{"-n", "-a", "cn"}, {"--strip-newline", "-a", "cn"}, "\n", "", 1},
        FormCase{{"-unw", "0", "-a", "cn"}, {"-u", "-n", "-w", "0", "-a", "cn"}, repeat("\xc3\x85", 100) + "\n",
                 "cn: " + repeat("\xc3\x85", 100) + "\n", 0},
        FormCase{{"-unw", "0", "-a", "cn"}, {"--utf8", "--strip-newline", "--wrap=0", "--attr=cn"},
                 repeat("\xc3\x85", 100) + "\r\n", "cn: " + repeat("\xc3\x85", 100) + "\n", 0},
        FormCase{{"-nBa", "cn"}, {"-n", "-B", "-a", "cn"}, "hi\n", "cn:: aGk=\n", 0},
        FormCase{{"-bnu", "-a", "cn"}, {"-b", "-n", "-u", "-a", "cn"}, "w4U=\n", "cn: \xc3\x85\n", 0},
        FormCase{{"-Bw", "10", "-a", "cn", "-s", "hello world"}, {"-B", "--wrap", "10", "-a", "cn", "-s", "hello world"},
                 "", "cn:: aGVsb\n G8gd29ybG\n Q=\n", 0},
        FormCase{{"-a", "cn", "-i", "@/in", "-nuw", "4", "--out=@/out"},
                 {"-a", "cn", "-i", "@/in", "-n", "-u", "-w", "4", "-o", "@/out"}, "", "", 0}));

TEST_F(Cli, AJoinedValueIsNeverAnOption) {
    expect_run(run({"--attr=cn", "--string=-V"}), "cn: -V\n", "", 0);
    expect_run(run({"--attr=cn", "--string=--help=x"}), "cn: --help=x\n", "", 0);
    expect_run(run({"--attr=-a", "--string=-"}), "-a: -\n", "", 0);
}

TEST_F(Cli, StandardInputAsAFileConflictsWithAString) {
    expect_run(run_in({"-a", "cn", "-s", "v", "-i", "-"}, "x"), "",
               "Input can only be one of string/file/stdin\n" + kUsage, 1);
}

TEST_F(Cli, StandardInputAsAFileFailsLikeStandardInput) {
    expect_run(run_in({"-a", "cn", "-i", "-"}, ""), "", "", 1);
    expect_run(sh("-a cn -i - < /"), "", "Could not read standard input: Is a directory\n", 1);
    // A file that is really named "-" is reached with a path.
    spit(dir + "/-", "dash");
    expect_run(run({"-a", "cn", "-i", dir + "/-"}), "cn: dash\n", "", 0);
}

// ---- values real readers would change -----------------------------------------

TEST_F(Cli, LeadingTabVerticalTabAndFormFeedAreWrittenInBase64) {
    expect_run(run({"-a", "cn", "-s", "\tx"}), "cn:: CXg=\n", "", 0);
    expect_run(run({"-a", "cn", "-s", "\vx"}), "cn:: C3g=\n", "", 0);
    expect_run(run({"-a", "cn", "-s", "\fx"}), "cn:: DHg=\n", "", 0);
    expect_run(run({"-G", "-a", "cn", "-s", "\tx"}), "cn:: CXg=\n", "", 0);
    expect_run(run({"-a", "cn", "-s", "x\t\v\f"}), "cn: x\t\v\f\n", "", 0);
}

// The tool's value is raw bytes, and a ";binary" name is written with "::":
// only base64 text is right there, whatever the options say.
TEST_F(Cli, BinaryNamesAlwaysGetBase64) {
    // The name is printed as given, the binary option and every other one
    // kept: that is the attribute description the server is to store.
    expect_run(run({"-a", "audio;binary", "-s", "plain text"}), "audio;binary:: cGxhaW4gdGV4dA==\n", "", 0);
    expect_run(run({"-G", "-a", "audio;binary", "-s", "plain text"}), "audio;binary:: cGxhaW4gdGV4dA==\n", "", 0);
    expect_run(run({"-b", "-a", "x;lang-en;binary", "-s", "aGk="}), "x;lang-en;binary:: aGk=\n", "", 0);
    expect_run(run_in({"-a", "userCertificate;binary"}, std::string("\0\x30\x82", 3)),
               "userCertificate;binary:: ADCC\n", "", 0);
    expect_run(run({"-a", "description;lang-de;binary", "-s", "x"}), "description;lang-de;binary:: eA==\n", "", 0);
    expect_run(run({"-a", "userCertificate;BINARY", "-s", "x"}), "userCertificate;BINARY:: eA==\n", "", 0);
    expect_run(run({"-a", "x;binary;lang-en", "-s", "x"}), "x;binary;lang-en:: eA==\n", "", 0);
    // Other options are printed as they are, and the value chosen as usual:
    // "binaryfoo" is not the binary option, and the value is raw bytes, never
    // a file to name.
    expect_run(run({"-a", "cn;lang-en", "-s", "plain"}), "cn;lang-en: plain\n", "", 0);
    expect_run(run({"-a", "x;binaryfoo", "-s", "plain"}), "x;binaryfoo: plain\n", "", 0);
    expect_run(run({"-a", "x;binaryfoo", "-s", "\xff"}), "x;binaryfoo:: /w==\n", "", 0);
    expect_run(run({"-a", "binary", "-s", "plain"}), "binary: plain\n", "", 0);
    expect_run(run({"-a", "photo;filename", "-s", "file:///x"}), "photo;filename: file:///x\n", "", 0);
}

// ---- the fold width ------------------------------------------------------------

// A line folded as the width is defined: the first physical line holds
// `width` characters, but never fewer than its `head` (name and marker) and
// one more, each continuation a space and width - 1 more; 0 never folds. For
// text without multi-byte characters, where no fold moves.
std::string folded(const std::string &unfolded, size_t width, size_t head) {
    const size_t first = std::max(width, head + 1);
    if (width == 0 || unfolded.size() <= first) return unfolded + "\n";
    std::string out = unfolded.substr(0, first);
    for (size_t at = first; at < unfolded.size(); at += width - 1) out += "\n " + unfolded.substr(at, width - 1);
    return out + "\n";
}

TEST_F(Cli, WrapWidthsOnShortValues) {
    const std::string v74(74, 'v');  // "cn: " and 74 characters: a line of 78
    expect_run(run({"-w", "78", "-a", "cn", "-s", v74}), "cn: " + v74 + "\n", "", 0);
    expect_run(run({"-w", "77", "-a", "cn", "-s", v74}), "cn: " + std::string(73, 'v') + "\n v\n", "", 0);
    expect_run(run({"-a", "cn", "-s", v74}), "cn: " + std::string(73, 'v') + "\n v\n", "", 0);
    expect_run(run({"-w", "76", "-a", "cn", "-s", v74}), "cn: " + std::string(72, 'v') + "\n vv\n", "", 0);
    expect_run(run({"-w", "77", "-a", "cn", "-s", std::string(73, 'v')}), "cn: " + std::string(73, 'v') + "\n", "", 0);
    expect_run(run({"-w", "0", "-a", "cn", "-s", std::string(300, 'v')}), "cn: " + std::string(300, 'v') + "\n", "", 0);
    expect_run(run({"-w", "200", "-a", "cn", "-s", std::string(300, 'v')}),
               "cn: " + std::string(196, 'v') + "\n " + std::string(104, 'v') + "\n", "", 0);
    expect_run(run({"-w", "200", "-a", "cn", "-s", std::string(600, 'v')}),
               "cn: " + std::string(196, 'v') + "\n " + std::string(199, 'v') + "\n " + std::string(199, 'v') + "\n " +
                   std::string(6, 'v') + "\n",
               "", 0);
    // The narrowest widths: the first line holds the name, ": " and a
    // character, a continuation one or two characters.
    expect_run(run({"-w", "2", "-a", "cn", "-s", "x"}), "cn: x\n", "", 0);
    expect_run(run({"-w", "3", "-a", "cn", "-s", "hello"}), "cn: h\n el\n lo\n", "", 0);
    expect_run(run({"-w", "3", "-a", "cn", "-s", "x"}), "cn: x\n", "", 0);
    expect_run(run({"-w", "5", "-a", "cn", "-s", "x"}), "cn: x\n", "", 0);
    // A decimal number: leading zeros do not make it octal.
    expect_run(run({"-w", "010", "-a", "cn", "-s", "abcdefghij"}), "cn: abcdef\n ghij\n", "", 0);
    expect_run(run({"-w", "00", "-a", "cn", "-s", std::string(100, 'v')}), "cn: " + std::string(100, 'v') + "\n", "", 0);
    expect_run(run({"-w", "00000000000000000002", "-a", "cn", "-s", "xy"}), "cn: x\n y\n", "", 0);
    expect_run(run({"-w", "0000000000002147483648", "-a", "cn", "-s", "x"}), "",
               "Invalid wrap width <0000000000002147483648>\n" + kUsage, 2);
    // The largest width never folds anything the tool can write.
    expect_run(run({"-w", "2147483647", "-a", "cn", "-s", std::string(1000, 'v')}),
               "cn: " + std::string(1000, 'v') + "\n", "", 0);
    for (size_t width : {2u, 3u, 4u, 7u, 10u, 76u, 77u, 78u, 200u}) {
        const std::string value = std::string(150, 'a') + std::string(150, 'b');
        expect_run(run({"-w", std::to_string(width), "-a", "description", "-s", value}),
                   folded("description: " + value, width, 13), "", 0);
    }
}

TEST_F(Cli, WrapWidthsOnLongNames) {
    const std::string name(300, 'n');
    // The name is never folded: the first line holds it, ": " and the
    // value's first character.
    const std::string value(10, 'v');
    for (size_t width : {0u, 2u, 3u, 76u, 77u, 78u, 200u, 299u, 302u, 303u, 304u, 310u})
        expect_run(run({"-w", std::to_string(width), "-a", name, "-s", value}), folded(name + ": " + value, width, 302),
                   "", 0);
    expect_run(run({"-a", name, "-s", value}), folded(name + ": " + value, 77, 302), "", 0);
    expect_run(run({"-w", "200", "-a", name, "-s", "vw"}), name + ": v\n w\n", "", 0);
    expect_run(run({"-w", "0", "-a", name + ";binary", "-s", "xyz"}), name + ";binary:: eHl6\n", "", 0);
}

TEST_F(Cli, WrapWidthsOnBase64) {
    expect_run(run({"-w", "10", "-B", "-a", "cn", "-s", "hello world"}), "cn:: aGVsb\n G8gd29ybG\n Q=\n", "", 0);
    expect_run(run_in({"-w", "10", "-a", "cn"}, "hello\n"), "cn:: aGVsb\n G8K\n", "", 0);
    expect_run(run({"-w", "4", "-b", "-a", "x", "-s", "YQBi"}), "x:: Y\n QBi\n", "", 0);
    // A photo of 100 KB on one line with -w 0; the same base64 text folded
    // at 77 by default, and at 2.
    const std::string photo = dir + "/photo.jpg";
    spit(photo, random_bytes(100000, 7));
    const Outcome flat = run({"-w", "0", "-B", "-a", "jpegPhoto", "-i", photo});
    ASSERT_EQ(flat.status, 0);
    EXPECT_EQ(flat.err, "");
    EXPECT_EQ(flat.out.find('\n'), flat.out.size() - 1) << "folded";
    EXPECT_EQ(flat.out.size(), std::string("jpegPhoto:: ").size() + 133336 + 1);
    EXPECT_EQ(flat.out.substr(0, 12), "jpegPhoto:: ");
    const std::string line = flat.out.substr(0, flat.out.size() - 1);
    expect_run(run({"-B", "-a", "jpegPhoto", "-i", photo}), folded(line, 77, 12), "", 0);
    expect_run(run({"-w", "2", "-B", "-a", "jpegPhoto", "-i", photo}), folded(line, 2, 12), "", 0);
    expect_run(run({"-w", "0", "-a", "jpegPhoto", "-i", photo}), flat.out, "", 0);  // not text: base64 anyway
    // The flat text decodes back to the photo's bytes.
    expect_run(run_in({"-w", "0", "-b", "-B", "-a", "jpegPhoto"}, line.substr(12)), flat.out, "", 0);
}

TEST_F(Cli, WrapWidthWithAnOutputFile) {
    const std::string out = dir + "/out.ldif";
    expect_run(run({"-w", "6", "-a", "cn", "-s", "abcdefghij", "-o", out}), "", "", 0);
    EXPECT_EQ(slurp(out), "cn: ab\n cdefg\n hij\n");
    expect_run(run({"-w", "0", "-a", "cn", "-s", std::string(200, 'z'), "-o", out}), "", "", 0);
    EXPECT_EQ(slurp(out), "cn: " + std::string(200, 'z') + "\n");
}

// ---- UTF-8 text kept readable ------------------------------------------------------

TEST_F(Cli, Utf8TextStaysPlain) {
    const std::vector<std::string> texts = {
        "\xc3\x85ngstr\xc3\xb6m",                          // Ångström
        "J\xc3\xa9r\xc3\xb4me M\xc3\xbcller",               // Latin
        "\xce\x95\xce\xbb\xce\xbb\xce\xb7\xce\xbd\xce\xb9\xce\xba\xce\xac",  // Greek
        "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e",             // CJK
        "\xf0\x9f\x98\x80 \xf0\x9f\x8e\x89",                // emoji
        "Ame\xcc\x81lie",                                   // e and a combining acute accent
        "e\xcc\x81",                                        // the combining sequence alone
        "\xc3\x85",                                         // one character
        "\xef\xbb\xbf" "BOM first",                         // U+FEFF is a character like another
        "\xf4\x8f\xbf\xbf \xed\x9f\xbf \xee\x80\x80",       // U+10FFFF, U+D7FF, U+E000: the edges
        "plain ASCII",
    };
    for (const auto &t : texts) {
        SCOPED_TRACE(t);
        expect_run(run({"-u", "-a", "cn", "-s", t}), "cn: " + t + "\n", "", 0);
        expect_run(run({"--utf8", "-a", "description;lang-de", "-s", t}), "description;lang-de: " + t + "\n", "", 0);
        expect_run(run_in({"-u", "-a", "cn"}, t), "cn: " + t + "\n", "", 0);
    }
    // Without -u the same text is base64, as before.
    expect_run(run({"-a", "cn", "-s", "\xc3\x85"}), "cn:: w4U=\n", "", 0);
}

TEST_F(Cli, Utf8TextThatIsNotSafeIsBase64) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"\xc3\x28", "wyg="},                 // a lead byte without its continuation
        {"\x80", "gA=="},                     // a stray continuation byte
        {"\xff", "/w=="},
        {"\xfe", "/g=="},
        {"\xc0\xaf", "wK8="},                 // overlong forms
        {"\xe0\x80\xaf", "4ICv"},
        {"\xf0\x80\x80\xaf", "8ICArw=="},
        {"\xed\xa0\x80", "7aCA"},             // surrogates
        {"\xed\xbf\xbf", "7b+/"},
        {"\xf4\x90\x80\x80", "9JCAgA=="},     // past U+10FFFF
        {"\xf8\x88\x80\x80\x80", "+IiAgIA="}, // five bytes
        {"abc\xe6\x97", "YWJj5pc="},          // cut at the end
        {"\xc3", "ww=="},
        {"\xe6\x97x", "5pd4"},                // cut before an ASCII byte
        {"a\xc3\x85\x85", "YcOFhQ=="},        // one continuation byte too many
        {"\xc3\x85\xff", "w4X/"},             // well-formed, then one bad byte
        {" \xc3\x85", "IMOF"},                // begins with a space
        {":\xc3\x85", "OsOF"},
        {"<\xc3\x85", "PMOF"},
        {"\xc3\x85\n", "w4UK"},               // a line feed
    };
    for (const auto &[value, text] : cases) {
        SCOPED_TRACE(quote(value));
        expect_run(run({"-u", "-a", "cn", "-s", value}), "cn:: " + text + "\n", "", 0);
    }
    expect_run(run_in({"-u", "-a", "cn"}, std::string("\xc3\x85\0", 3)), "cn:: w4UA\n", "", 0);
    // -B still forces base64, and so does a ";binary" name.
    expect_run(run({"-u", "-B", "-a", "cn", "-s", "\xc3\x85"}), "cn:: w4U=\n", "", 0);
    expect_run(run({"-B", "-u", "-a", "cn", "-s", "plain"}), "cn:: cGxhaW4=\n", "", 0);
    expect_run(run({"-uB", "-a", "cn", "-s", "\xc3\x85"}), "cn:: w4U=\n", "", 0);
    expect_run(run({"-u", "-a", "cn;binary", "-s", "\xc3\x85"}), "cn;binary:: w4U=\n", "", 0);
    // The decoded bytes are what -u looks at.
    expect_run(run({"-u", "-b", "-a", "cn", "-s", "w4U="}), "cn: \xc3\x85\n", "", 0);
    expect_run(run({"-u", "-b", "-a", "cn", "-s", "w4X/"}), "cn:: w4X/\n", "", 0);
}

TEST_F(Cli, Utf8FoldsMoveBackToTheStartOfASequence) {
    // "cn: x" then seven two-byte characters at width 10: the third would
    // straddle the fold, which moves back before it; the next line holds
    // four (eight of its nine places) for the same reason.
    const std::string e = "\xc3\xa9";
    expect_run(run({"-u", "-w", "10", "-a", "cn", "-s", "x" + repeat(e, 7)}),
               "cn: x" + e + e + "\n " + repeat(e, 4) + "\n " + e + "\n", "", 0);
    // A whole line of them: the fold falls between two characters as it is.
    expect_run(run({"-u", "-w", "10", "-a", "cn", "-s", repeat(e, 3) + "x"}), "cn: " + repeat(e, 3) + "\n x\n", "", 0);
    const std::string grin = "\xf0\x9f\x98\x80";
    expect_run(run({"-u", "-w", "8", "-a", "cn", "-s", "ab" + grin}), "cn: ab\n " + grin + "\n", "", 0);
    expect_run(run({"-u", "-w", "8", "-a", "cn", "-s", "a" + grin + "b"}), "cn: a\n " + grin + "b\n", "", 0);
    expect_run(run({"-u", "-w", "8", "-a", "cn", "-s", grin + grin}), "cn: " + grin + "\n " + grin + "\n", "", 0);
    const std::string sun = "\xe6\x97\xa5";
    expect_run(run({"-u", "-w", "6", "-a", "cn", "-s", "a" + sun + sun}), "cn: a\n " + sun + "\n " + sun + "\n", "", 0);
    // Below width 5 a character that no continuation line can hold is held
    // whole anyway (that line is up to 3 longer); the value's first stays
    // on the first line.
    const std::string mixed = grin + sun + sun + grin + "x";
    expect_run(run_in({"-u", "-w", "4", "-a", "cn"}, mixed),
               "cn: " + grin + "\n " + sun + "\n " + sun + "\n " + grin + "\n x\n", "", 0);
    expect_run(run_in({"-u", "-w", "2", "-a", "cn"}, "x" + grin + "y"), "cn: x\n " + grin + "\n y\n", "", 0);
    // A combining mark is a sequence of its own: the fold may fall between
    // it and its base letter, never inside it.
    const std::string acute = "\xcc\x81";
    expect_run(run({"-u", "-w", "6", "-a", "cn", "-s", "e" + acute + "e" + acute}),
               "cn: e\n " + acute + "e" + acute + "\n", "", 0);
    // Without -u the value is base64 and folds at the width exactly.
    expect_run(run({"-w", "10", "-a", "cn", "-s", "x" + repeat(e, 7)}), "cn:: eMOpw\n 6nDqcOpw6\n nDqcOp\n", "", 0);
    // A base64 value under -u folds as any base64 value.
    expect_run(run({"-u", "-w", "10", "-a", "cn", "-s", "x" + repeat(e, 7) + "\xff"}),
               "cn:: eMOpw\n 6nDqcOpw6\n nDqcOp/w=\n =\n", "", 0);
}

// Every fold of a plain -u line, checked against the rule itself: each
// physical line within the width, each fold as late as the rule allows, no
// fold inside a character, and the folds joined give the line back.
void expect_utf8_folds(const std::string &out, const std::string &unfolded, size_t width) {
    ASSERT_FALSE(out.empty());
    ASSERT_EQ(out.back(), '\n');
    std::vector<std::string> lines;
    for (size_t start = 0, nl; (nl = out.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(out.substr(start, nl - start));
    const auto sequence_length = [](unsigned char lead) -> size_t {
        return lead < 0x80 ? 1 : lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc0 ? 2 : 0;
    };
    std::string joined;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string &l = lines[i];
        // The first line holds "cn: " and the value's first character whole.
        const size_t first = 4 + sequence_length(static_cast<unsigned char>(unfolded[4]));
        EXPECT_LE(l.size(), i == 0 ? std::max(width, first) : width) << "line " << i;
        std::string text = l;
        if (i > 0) {
            ASSERT_FALSE(l.empty()) << "line " << i;
            EXPECT_EQ(l[0], ' ') << "line " << i;
            text = l.substr(1);
            ASSERT_FALSE(text.empty()) << "an empty continuation, line " << i;
            EXPECT_NE(sequence_length(static_cast<unsigned char>(text[0])), 0u) << "a fold inside a character, line " << i;
        }
        if (i + 1 < lines.size() && lines[i + 1].size() > 1) {
            // Folded early only when the next character would not fit.
            const size_t next = sequence_length(static_cast<unsigned char>(lines[i + 1][1]));
            EXPECT_GT(l.size() + next, width) << "folded early, line " << i;
        }
        joined += text;
    }
    EXPECT_EQ(joined + "\n", unfolded + "\n");
}

TEST_F(Cli, Utf8FoldsAtEveryOffsetAndWidth) {
    const std::vector<std::string> characters = {"\xc3\xa9", "\xe6\x97\xa5", "\xf0\x9f\x98\x80",
                                                 "\xc3\xa9\xe6\x97\xa5\xf0\x9f\x98\x80" "e\xcc\x81"};
    for (size_t width : {5u, 6u, 7u, 8u, 9u, 10u, 11u, 76u, 77u, 78u})
        for (const std::string prefix : {"", "a", "ab", "abc"})
            for (const auto &c : characters) {
                const std::string value = prefix + repeat(c, width < 20 ? 6 : 40);
                SCOPED_TRACE("width " + std::to_string(width) + " " + quote(value));
                const Outcome r = run({"-u", "-w", std::to_string(width), "-a", "cn", "-s", value});
                EXPECT_EQ(r.status, 0);
                EXPECT_EQ(r.err, "");
                expect_utf8_folds(r.out, "cn: " + value, width);
            }
}

TEST_F(Cli, Utf8WithAnOutputFile) {
    const std::string out = dir + "/out.ldif";
    expect_run(run({"-u", "-a", "cn", "-s", "\xc3\x85ngstr\xc3\xb6m", "-o", out}), "", "", 0);
    EXPECT_EQ(slurp(out), "cn: \xc3\x85ngstr\xc3\xb6m\n");
}

// ---- the final newline --------------------------------------------------------------

TEST_F(Cli, StripNewlineDropsOneLineEnd) {
    const std::vector<std::tuple<std::string, std::string, int>> cases = {
        {"x\n", "cn: x\n", 0},
        {"x\r\n", "cn: x\n", 0},
        {"x", "cn: x\n", 0},
        {"x\n\n", "cn:: eAo=\n", 0},      // only one is dropped
        {"x\r\n\r\n", "cn:: eA0K\n", 0},
        {"x\r", "cn:: eA0=\n", 0},        // a CR alone is not a line end
        {"x\r\r\n", "cn:: eA0=\n", 0},
        {"x\n\r", "cn:: eAoN\n", 0},
        {"x\n\n\r\n", "cn:: eAoK\n", 0},
        {"\n\n", "cn:: Cg==\n", 0},
        {"\r\n\r\n", "cn:: DQo=\n", 0},
        {"\r", "cn:: DQ==\n", 0},
        {"\n", "", 1},                    // nothing left: empty input
        {"\r\n", "", 1},
        {"", "", 1},
        {std::string("a\0\n", 3), "cn:: YQA=\n", 0},
        {"hello world\n", "cn: hello world\n", 0},
    };
    for (const auto &[input, out, status] : cases) {
        SCOPED_TRACE(quote(input));
        expect_run(run_in({"-n", "-a", "cn"}, input), out, "", status);
        expect_run(run_in({"-a", "cn", "-i", "-", "--strip-newline"}, input), out, "", status);
    }
    // Strings, files and -o alike.
    expect_run(run({"-n", "-a", "cn", "-s", "x\n"}), "cn: x\n", "", 0);
    expect_run(run({"-n", "-a", "cn", "-s", "x\r\n"}), "cn: x\n", "", 0);
    expect_run(run({"-n", "-a", "cn", "-s", "\n"}), "", "", 1);
    expect_run(run({"-n", "-a", "cn", "-s", "x"}), "cn: x\n", "", 0);
    const std::string in = dir + "/in", out = dir + "/out.ldif";
    spit(in, "file value\r\n");
    expect_run(run({"-n", "-a", "cn", "-i", in}), "cn: file value\n", "", 0);
    EXPECT_EQ(slurp(in), "file value\r\n") << "the input file was changed";
    expect_run(run({"-n", "-a", "cn", "-i", in, "-o", out}), "", "", 0);
    EXPECT_EQ(slurp(out), "cn: file value\n");
    spit(in, "\n");
    spit(out, "old");
    expect_run(run({"-n", "-a", "cn", "-i", in, "-o", out}), "", "", 1);
    EXPECT_EQ(slurp(out), "old");
    expect_run(sh("-n -a cn -i <(printf 'piped\\n')"), "cn: piped\n", "", 0);
    // Together with the other options.
    expect_run(run_in({"-n", "-B", "-a", "cn"}, "x\n"), "cn:: eA==\n", "", 0);
    expect_run(run_in({"-n", "-u", "-a", "cn"}, "\xc3\x85\n"), "cn: \xc3\x85\n", "", 0);
    expect_run(run_in({"-u", "-a", "cn"}, "\xc3\x85\n"), "cn:: w4UK\n", "", 0);
    expect_run(run_in({"-n", "-w", "5", "-a", "cn"}, "abcdef\n"), "cn: a\n bcde\n f\n", "", 0);
}

TEST_F(Cli, StripNewlineComesBeforeDecoding) {
    expect_run(run_in({"-n", "-b", "-a", "cn"}, "SGVsbG8=\n"), "cn: Hello\n", "", 0);
    expect_run(sh("-n -b -a cn < <(echo SGVsbG8=)"), "cn: Hello\n", "", 0);
    // A lone newline is then empty input, where -b alone fails on it.
    expect_run(run_in({"-n", "-b", "-a", "cn"}, "\n"), "", "", 1);
    expect_run(run_in({"-b", "-a", "cn"}, "\n"), "", "Failed to base64-decode input(1,0)!\n", 1);
    expect_run(run_in({"-n", "-b", "-a", "cn"}, "\r\n"), "", "", 1);
    // The message counts the input without the dropped line end.
    expect_run(run_in({"-n", "-b", "-a", "cn"}, "!!!!\n"), "", "Failed to base64-decode input(4,-1)!\n", 1);
    expect_run(run_in({"-n", "-b", "-a", "cn"}, "!!!!\r\n"), "", "Failed to base64-decode input(4,-1)!\n", 1);
    expect_run(run_in({"-b", "-a", "cn"}, "!!!!\n"), "", "Failed to base64-decode input(5,-1)!\n", 1);
    // A line feed in the decoded bytes stays.
    expect_run(run_in({"-n", "-b", "-a", "cn"}, "eAo=\n"), "cn:: eAo=\n", "", 0);
    expect_run(run({"-n", "-b", "-a", "cn", "-s", "eAo="}), "cn:: eAo=\n", "", 0);
    expect_run(run_in({"-n", "-b", "-u", "-a", "cn"}, "w4U=\r\n"), "cn: \xc3\x85\n", "", 0);
}

TEST_F(Cli, StripNewlineLeavesASharedOffsetAfterTheInput) {
    const std::string in = dir + "/in";
    spit(in, "prefix|value\n");
    const std::string out = dir + "/out";
    const std::string cmd = "{ head -c 7 >/dev/null; " + quote(kBin) + " -n -a cn; cat; } < " + quote(in) + " > " +
                            quote(out);
    ASSERT_EQ(std::system(("bash -c " + quote(cmd)).c_str()), 0);
    EXPECT_EQ(slurp(out), "cn: value\n");
}

// The option values and combinations that are not errors.
TEST_F(Cli, NewOptionsAndTheEarlyExits) {
    expect_run(run({"-u", "-G", "-V"}), "", "kestrin 1.0.7\n", 0);
    expect_run(run({"-V", "-w", "1"}), "", "kestrin 1.0.7\n", 0);
    expect_run(run({"-w", "1", "-h"}), kUsage, "", 0);
    expect_run(run({"-u", "-G", "-h"}), kUsage, "", 0);
    expect_run(run({"-w", "-h"}), kUsage, "", 0);
    // -u with -B is no error (-B wins), nor -n or -w with anything.
    expect_run(run({"-u", "-B", "-n", "-w", "0", "-a", "cn", "-s", "v"}), "cn:: dg==\n", "", 0);
    expect_run(run({"-G", "-n", "-w", "0", "-a", "cn", "-s", "v"}), "cn: v\n", "", 0);
}

// ---- -o replaces the file only when everything was written ---------------------

std::set<std::string> entries(const std::string &path) {
    std::set<std::string> names;
    if (DIR *d = opendir(path.c_str())) {
        while (const dirent *e = readdir(d))
            if (std::string_view(e->d_name) != "." && std::string_view(e->d_name) != "..") names.insert(e->d_name);
        closedir(d);
    }
    return names;
}

struct stat stat_of(const std::string &path) {
    struct stat st{};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st;
}

class Output : public Cli {
protected:
    std::string outdir, out;
    void SetUp() override {
        Cli::SetUp();
        outdir = dir + "/o";
        out = outdir + "/out.ldif";
        ASSERT_EQ(mkdir(outdir.c_str(), 0755), 0);
    }
    void expect_only(std::set<std::string> names) { EXPECT_EQ(entries(outdir), names) << "a temporary file was left"; }
};

TEST_F(Output, ReplacesAFileKeepingItsPermissionBits) {
    spit(out, "old content that is longer");
    ASSERT_EQ(chmod(out.c_str(), 0640), 0);
    const ino_t old_inode = stat_of(out).st_ino;
    expect_run(sh("-a cn -s hello -o " + quote(out), nullptr, "", "umask 077; "), "", "", 0);
    EXPECT_EQ(slurp(out), "cn: hello\n");
    const struct stat st = stat_of(out);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_NE(st.st_ino, old_inode) << "written in place";
    expect_only({"out.ldif"});
}

TEST_F(Output, NewFilesGetTheUmaskBits) {
    for (const auto &[mask, mode] : {std::pair{"022", 0644u}, {"027", 0640u}, {"0", 0666u}}) {
        std::remove(out.c_str());
        expect_run(sh("-a cn -s v -o " + quote(out), nullptr, "", std::string("umask ") + mask + "; "), "", "", 0);
        EXPECT_EQ(slurp(out), "cn: v\n");
        EXPECT_EQ(stat_of(out).st_mode & 07777, mode) << mask;
    }
    expect_only({"out.ldif"});
}

TEST_F(Output, RelativePathsAreReplacedInTheirDirectory) {
    spit(out, "old");
    expect_run(sh("-a cn -s v -o out.ldif", nullptr, "", "cd " + quote(outdir) + "; "), "", "", 0);
    EXPECT_EQ(slurp(out), "cn: v\n");
    expect_only({"out.ldif"});
}

TEST_F(Output, RootKeepsTheOwner) {
    if (geteuid() != 0) GTEST_SKIP() << "only root can give a file away";
    spit(out, "old");
    ASSERT_EQ(chown(out.c_str(), 4321, 8765), 0);
    ASSERT_EQ(chmod(out.c_str(), 0604), 0);
    expect_run(run({"-a", "cn", "-s", "v", "-o", out}), "", "", 0);
    const struct stat st = stat_of(out);
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 8765u);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
}

TEST_F(Output, FileSizeLimitKeepsTheOldContent) {
    const std::string old(20000, 'o');
    spit(out, old);
    spit(dir + "/big", std::string(30000, 'x'));
    expect_run(sh("-a cn -i " + quote(dir + "/big") + " -o " + quote(out), nullptr, "", "ulimit -f 16; "), "",
               "Failed to write output: File too large\n", 1);
    EXPECT_EQ(slurp(out), old);
    expect_only({"out.ldif"});
    // Under the limit the same command succeeds.
    expect_run(sh("-a cn -s small -o " + quote(out), nullptr, "", "ulimit -f 16; "), "", "", 0);
    EXPECT_EQ(slurp(out), "cn: small\n");
}

TEST_F(Output, FullFileSystemKeepsTheOldContent) {
    if (system("unshare -m true 2>/dev/null") != 0) GTEST_SKIP() << "no mount namespace here";
    // A 64 KiB tmpfs of its own (in a private mount namespace, so nothing
    // outlives the test) holding a 40000-byte file: the new 40000 bytes do not
    // fit beside it.
    const std::string mnt = dir + "/mnt", result = dir + "/result";
    ASSERT_EQ(mkdir(mnt.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(result.c_str(), 0755), 0);
    spit(dir + "/big", std::string(29000, 'x'));
    const std::string script =
        "mount -t tmpfs -o size=64k tmpfs \"$1\" || exit 77; "
        "head -c 40000 /dev/zero | tr '\\0' o > \"$1/out\" || exit 78; "
        "\"$3\" -a cn -i \"$4\" -o \"$1/out\" > \"$2/stdout\" 2> \"$2/stderr\"; echo $? > \"$2/status\"; "
        "cp \"$1/out\" \"$2/after\"; ls -A \"$1\" > \"$2/ls\"; "
        "\"$3\" -a cn -s small -o \"$1/out\" 2>> \"$2/stderr\"; cat \"$1/out\" > \"$2/small\"; ls -A \"$1\" >> \"$2/ls\"";
    const int raw = std::system(("unshare -m bash -c " + quote(script) + " bash " + quote(mnt) + " " + quote(result) +
                                 " " + quote(kBin) + " " + quote(dir + "/big"))
                                    .c_str());
    if (WIFEXITED(raw) && WEXITSTATUS(raw) == 77) GTEST_SKIP() << "tmpfs cannot be mounted here";
    ASSERT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << raw;
    EXPECT_EQ(slurp(result + "/stdout"), "");
    EXPECT_EQ(slurp(result + "/stderr"), "Failed to write output: No space left on device\n");
    EXPECT_EQ(slurp(result + "/status"), "1\n");
    EXPECT_EQ(slurp(result + "/after"), std::string(40000, 'o'));
    EXPECT_EQ(slurp(result + "/ls"), "out\nout\n");
    EXPECT_EQ(slurp(result + "/small"), "cn: small\n");
}

TEST_F(Output, SymbolicLinksAreWrittenThrough) {
    const std::string target = dir + "/target";
    spit(target, "old");
    ASSERT_EQ(symlink(target.c_str(), out.c_str()), 0);
    expect_run(run({"-a", "cn", "-s", "v", "-o", out}), "", "", 0);
    EXPECT_TRUE(S_ISLNK(stat_of(out).st_mode));
    EXPECT_EQ(slurp(target), "cn: v\n");
    expect_only({"out.ldif"});
}

TEST_F(Output, HardLinkedFilesAreWrittenInPlace) {
    const std::string other = outdir + "/other";
    spit(out, "old");
    ASSERT_EQ(link(out.c_str(), other.c_str()), 0);
    const ino_t inode = stat_of(out).st_ino;
    expect_run(run({"-a", "cn", "-s", "v", "-o", out}), "", "", 0);
    EXPECT_EQ(stat_of(out).st_ino, inode);
    EXPECT_EQ(slurp(other), "cn: v\n");
    expect_only({"out.ldif", "other"});
}

TEST_F(Output, FifosAndDevicesAreWrittenInPlace) {
    const std::string fifo = outdir + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    expect_run(sh("-a cn -s piped -o " + quote(fifo) + " & cat " + quote(fifo) + "; wait"), "cn: piped\n", "", 0);
    expect_only({"fifo"});
    expect_run(run({"-a", "cn", "-s", "v", "-o", "/dev/null"}), "", "", 0);
}

TEST_F(Output, FailuresToCreateLeaveTheTargetAlone) {
    expect_run(run({"-a", "cn", "-s", "v", "-o", outdir}), "", "Could no open outfile<" + outdir + ">\n", 1);
    expect_run(run({"-a", "cn", "-s", "v", "-o", outdir + "/"}), "", "Could no open outfile<" + outdir + "/>\n", 1);
    expect_run(run({"-a", "cn", "-s", "v", "-o", ""}), "", "Could no open outfile<>\n", 1);
    const std::string under_file = out + "/x";
    spit(out, "old");
    expect_run(run({"-a", "cn", "-s", "v", "-o", under_file}), "", "Could no open outfile<" + under_file + ">\n", 1);
    EXPECT_EQ(slurp(out), "old");
    if (geteuid() != 0) {  // root writes everywhere
        ASSERT_EQ(chmod(out.c_str(), 0444), 0);
        expect_run(run({"-a", "cn", "-s", "v", "-o", out}), "", "Could no open outfile<" + out + ">\n", 1);
        EXPECT_EQ(slurp(out), "old");
        ASSERT_EQ(chmod(out.c_str(), 0644), 0);
        // A directory the user may not write: no temporary file can be made
        // (and a file that merely looks like one is not touched).
        spit(outdir + "/.kestrin.XXXXXX", "mine");
        ASSERT_EQ(chmod(outdir.c_str(), 0555), 0);
        expect_run(run({"-a", "cn", "-s", "v", "-o", out}), "", "Could no open outfile<" + out + ">\n", 1);
        EXPECT_EQ(slurp(out), "old");
        ASSERT_EQ(chmod(outdir.c_str(), 0755), 0);
        EXPECT_EQ(slurp(outdir + "/.kestrin.XXXXXX"), "mine");
        std::remove((outdir + "/.kestrin.XXXXXX").c_str());
    }
    expect_only({"out.ldif"});
}

}  // namespace
