// End-to-end: runs the built kestrin binary and compares exact bytes,
// messages and exit statuses.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string kBin = KESTRIN_BIN;

const std::string kUsageBody =
    " [options]\n\n"
    "  --help,\t-h\t\t\tDisplays this information\n"
    "  --b64_read,\t-b\t\t\tbase64 decode input\n"
    "  --b64_write,\t-B\t\t\tbase64 encode output\n"
    "  --b64_guess,\t-G\t\t\tbase64 encode on demand\n"
    "  --string,\t-s <args>\t\tInput String (if omitted, stdin)\n"
    "  --infile,\t-i <args>\t\tInput File (if ommitted, stdin)\n"
    "  --out,\t-o <args>\t\tOutputfile instead of stdout\n"
    "  --attr,\t-a <args>\t\tAttribute name\n"
    "  --version,\t-V\t\t\tShow version information\n";
const std::string kUsage = "Usage: " + kBin + kUsageBody;

std::string quote(const std::string &s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void spit(const std::string &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string random_bytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto &c : s) c = static_cast<char>(rng());
    return s;
}

std::string unfold(const std::string &text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && i + 1 < text.size() && text[i + 1] == ' ') {
            ++i;
            continue;
        }
        out += text[i];
    }
    return out;
}

std::set<std::string> spool_files() {
    std::set<std::string> names;
    if (DIR *d = opendir("/tmp")) {
        while (const dirent *e = readdir(d))
            if (std::string(e->d_name).rfind("zan_input", 0) == 0) names.insert(e->d_name);
        closedir(d);
    }
    return names;
}

struct Outcome {
    std::string out, err;
    int status;
};

class Cli : public testing::Test {
protected:
    std::string dir;
    std::set<std::string> spool_before = spool_files();

    void SetUp() override {
        char path[] = "/tmp/kestrin_cli_testXXXXXX";
        ASSERT_NE(mkdtemp(path), nullptr);
        dir = path;
    }
    void TearDown() override {
        std::system(("rm -rf " + quote(dir)).c_str());
        EXPECT_EQ(spool_files(), spool_before) << "a temporary input file was left in /tmp";
    }

    // Runs kestrin through bash with the given arguments (already shell
    // words, so that redirections and <(...) can be used), feeding `input`
    // on standard input (none: /dev/null).
    Outcome sh(const std::string &words, const std::string *input = nullptr,
           const std::string &stdout_to = "") {
        const std::string in = dir + "/.stdin", out = dir + "/.stdout", err = dir + "/.stderr";
        if (input) spit(in, *input);
        const std::string cmd = "{ " + quote(kBin) + " " + words + "; } <" + (input ? quote(in) : "/dev/null") +
                                " >" + (stdout_to.empty() ? quote(out) : stdout_to) + " 2>" + quote(err);
        const int raw = std::system(("exec bash -c " + quote(cmd)).c_str());
        Outcome r{slurp(out), slurp(err), WIFEXITED(raw) ? WEXITSTATUS(raw) : -1};
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
    expect_run(run({}), kUsage, "You must specify an attribute\n", 2);
}

TEST_F(Cli, StringAndFileTogether) {
    spit(dir + "/f", "x");
    expect_run(run({"-a", "cn", "-s", "v", "-i", dir + "/f"}), kUsage,
               "Input can only be one of string/file/stdin\n", 1);
    expect_run(run({"-s", "v", "-i", dir + "/f"}), kUsage, "You must specify an attribute\n", 2);
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
}

TEST_F(Cli, DecodeInput) {
    expect_run(run_in({"-b", "-a", "cn"}, "SGVsbG8=\n"), "cn: Hello\n", "", 0);
    expect_run(run_in({"-b", "-a", "cn"}, "\n"), "", "Failed to base64-decode input(1,0)!\n", 1);
    expect_run(run_in({"-b", "-a", "cn"}, "!!!!"), "", "Failed to base64-decode input(4,-1)!\n", 1);
    expect_run(run({"-b", "-a", "x", "-s", "YQBi"}), "x:: YQBi\n", "", 0);
    // Decoding stops at the first NUL of the input.
    expect_run(run_in({"-b", "-a", "cn"}, std::string("SGVsbG8=\0QQ==", 13)), "cn: Hello\n", "", 0);
}

TEST_F(Cli, Version) {
    expect_run(run({"-V"}), "", "kestrin 1.0.7\n", 0);
    expect_run(run({"-a", "cn", "--version", "-s"}), "", "kestrin 1.0.7\n", 0);
    expect_run(run({"-V", "-h"}), kUsage, "", 0);
}

TEST_F(Cli, UsageExits) {
    expect_run(run({"-h"}), kUsage, "", 0);
    expect_run(run({"-a", "cn", "-s", "-h"}), kUsage, "", 0);
    expect_run(run({"-a"}), kUsage, "", 0);
    expect_run(run({"-a", "cn", "-s", "-B"}), kUsage, "", 0);
}

TEST_F(Cli, UnrecognisedOptionsAreIgnored) {
    expect_run(run({"-x", "--bogus", "--", "-a", "cn", "--attr=sn", "-s", "v"}), "cn: v\n", "", 0);
    expect_run(run({"-a", "cn", "-s", "-x"}), "cn: -x\n", "", 0);
    // The first non-option ends the options.
    expect_run(run({"foo", "-a", "cn"}), kUsage, "You must specify an attribute\n", 2);
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
    const int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 2147483648LL), 0);
    close(fd);
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

TEST_F(Cli, RefusedNameFailsTheWrite) {
    expect_run(run({"-a", "c:n", "-s", "v"}), "", "Failed to write ldif buffer\n", 1);
    expect_run(run({"-a", " cn", "-s", "v"}), "", "Failed to write ldif buffer\n", 1);
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
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(fds[0], STDIN_FILENO);
        close(fds[0]);
        close(fds[1]);
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, STDOUT_FILENO);
        execl(kBin.c_str(), kBin.c_str(), "-a", "cn", static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fds[0]);
    ASSERT_EQ(write(fds[1], "partial", 7), 7);
    // Wait until the tool holds its temporary file open, then look at it.
    std::string spool_link;
    for (int i = 0; i < 200 && spool_link.empty(); ++i) {
        const std::string fd_dir = "/proc/" + std::to_string(pid) + "/fd";
        if (DIR *d = opendir(fd_dir.c_str())) {
            while (const dirent *e = readdir(d)) {
                char target[PATH_MAX] = {};
                const std::string link = fd_dir + "/" + e->d_name;
                if (readlink(link.c_str(), target, sizeof target - 1) > 0 &&
                    std::string(target).rfind("/tmp/zan_input", 0) == 0)
                    spool_link = target;
            }
            closedir(d);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_NE(spool_link.find(" (deleted)"), std::string::npos) << spool_link;
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    close(fds[1]);
    EXPECT_TRUE(WIFSIGNALED(status));
}

}  // namespace
