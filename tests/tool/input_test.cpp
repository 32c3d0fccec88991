#include "input.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support.h"

namespace {

using testutil::random_bytes;
using testutil::spool_files;
using testutil::write_file;

struct Read {
    std::string bytes;
    int length;
    bool has_buffer;
};

Read read_file(const std::string &path) {
    int length = 12345;
    char *data = input_read_file(path.c_str(), &length);
    Read r{data && length > 0 ? std::string(data, static_cast<size_t>(length)) : "", length, data != nullptr};
    std::free(data);
    return r;
}

// Runs input_read_stdin with fd 0 replaced by `source` for the call.
Read read_stdin_from(int source) {
    const int saved = dup(STDIN_FILENO);
    dup2(source, STDIN_FILENO);
    int length = 0;
    char *data = input_read_stdin(&length);
    dup2(saved, STDIN_FILENO);
    close(saved);
    Read r{data && length > 0 ? std::string(data, static_cast<size_t>(length)) : "", length, data != nullptr};
    std::free(data);
    return r;
}

class InputFile : public testutil::TempDirTest {};

TEST_F(InputFile, ReadsEveryByte) {
    for (size_t n : {1, 2, 65025, 65026, 3 << 20}) {
        const std::string bytes = random_bytes(n, static_cast<unsigned>(n));
        write_file(dir + "/f", bytes);
        const Read r = read_file(dir + "/f");
        EXPECT_EQ(r.length, static_cast<int>(n));
        EXPECT_EQ(r.bytes, bytes);
    }
    write_file(dir + "/nl", "value\n");
    EXPECT_EQ(read_file(dir + "/nl").bytes, "value\n");
}

TEST_F(InputFile, EmptyMissingAndDirectory) {
    write_file(dir + "/empty", "");
    Read r = read_file(dir + "/empty");
    EXPECT_EQ(r.length, 0);
    EXPECT_FALSE(r.has_buffer);

    errno = 0;
    r = read_file(dir + "/missing");
    EXPECT_EQ(r.length, -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(r.has_buffer);

    errno = 0;
    r = read_file(dir);
    EXPECT_EQ(r.length, -1);
    EXPECT_EQ(errno, EISDIR);
}

TEST_F(InputFile, TwoGibibytesFailAtOnce) {
    const std::string path = dir + "/sparse";
    ASSERT_TRUE(testutil::write_sparse_file(path, 2147483648LL));  // no disk, no memory
    errno = 0;
    const Read r = read_file(path);
    EXPECT_EQ(r.length, -8);
    EXPECT_EQ(errno, EFBIG);
    EXPECT_FALSE(r.has_buffer);
}

TEST_F(InputFile, ReadsAFifoWhole) {
    const std::string path = dir + "/fifo";
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    const std::string bytes = random_bytes(300000, 5);
    std::thread writer([&] { write_file(path, bytes); });
    const Read r = read_file(path);
    writer.join();
    EXPECT_EQ(r.length, 300000);
    EXPECT_EQ(r.bytes, bytes);
}

// Standard input from the read end of a connected pair (a pipe, or a socket
// pair), fed by a writer thread.
using MakePair = int (*)(int fds[2]);
int make_pipe(int fds[2]) { return pipe(fds); }
int make_socket_pair(int fds[2]) { return socketpair(AF_UNIX, SOCK_STREAM, 0, fds); }

class InputStdinStream : public testing::TestWithParam<MakePair> {};

// A pipe is spliced into the spool; a socket cannot be, and its data goes
// through the chunk copy instead.
TEST_P(InputStdinStream, ReadsEverySizeAndLeavesNoFile) {
    const auto before = spool_files();
    for (size_t n : {0, 1, 65025, 65026, 1 << 20, (1 << 20) + 1, 1 << 22}) {
        const std::string bytes = random_bytes(n, 11);
        int fds[2];
        ASSERT_EQ(GetParam()(fds), 0);
        std::thread writer([&] {
            size_t off = 0;
            while (off < bytes.size()) {
                const ssize_t w = write(fds[1], bytes.data() + off, bytes.size() - off);
                if (w <= 0) break;
                off += static_cast<size_t>(w);
            }
            close(fds[1]);
        });
        const Read r = read_stdin_from(fds[0]);
        writer.join();
        close(fds[0]);
        EXPECT_EQ(r.length, static_cast<int>(n));
        EXPECT_EQ(r.has_buffer, n > 0);
        EXPECT_EQ(r.bytes, bytes);
    }
    EXPECT_EQ(testutil::spool_files_left(before), std::set<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(PipeAndSocket, InputStdinStream, testing::Values(make_pipe, make_socket_pair),
                         [](const testing::TestParamInfo<MakePair> &info) {
                             return info.param == make_pipe ? "Pipe" : "Socket";
                         });

TEST(InputStdin, DirectoryIsRefused) {
    const int fd = open("/", O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    errno = 0;
    const Read r = read_stdin_from(fd);
    close(fd);
    EXPECT_EQ(r.length, -1);
    EXPECT_EQ(errno, EISDIR);
}

TEST_F(InputFile, RegularStandardInputIsReadFromItsOffset) {
    write_file(dir + "/f", "skipped|the value\n");
    const int fd = open((dir + "/f").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(lseek(fd, 8, SEEK_SET), 8);
    Read r = read_stdin_from(fd);
    EXPECT_EQ(r.length, 10);
    EXPECT_EQ(r.bytes, "the value\n");
    r = read_stdin_from(fd);  // now at the end: empty
    EXPECT_EQ(r.length, 0);
    EXPECT_FALSE(r.has_buffer);
    close(fd);
}

TEST(InputStdin, ReadErrorEndsTheSpoolLoop) {
    // A terminal-like device that fails reads: /dev/null opened write-only.
    const int fd = open("/dev/null", O_WRONLY);
    ASSERT_GE(fd, 0);
    errno = 0;
    const Read r = read_stdin_from(fd);
    close(fd);
    EXPECT_EQ(r.length, -7);
    EXPECT_EQ(errno, EBADF);
}

// ---- the input in pieces ----------------------------------------------------

using kestrin::tool::Input;

// The pieces of one pass (each_piece, or each_view), joined, or "<failed: errno>".
std::string one_pass(Input &input, bool view = false) {
    std::string joined;
    const auto take = [&](const char *p, size_t n) {
        if (!view) {
            EXPECT_LE(n, input.piece_size());
        }
        joined.append(p, n);
        return true;
    };
    const Input::Pass pass = view ? input.each_view(take) : input.each_piece(take);
    return pass == Input::Pass::kDone ? joined : "<failed: " + std::to_string(errno) + ">";
}

TEST_F(InputFile, PassesOverAFileInPlace) {
    const std::string path = dir + "/f", bytes = random_bytes((3 << 20) + 5, 30);
    write_file(path, bytes);
    Input input;
    ASSERT_EQ(input.take_file(path.c_str()), 0);
    EXPECT_FALSE(input.fully_read());
    EXPECT_EQ(input.size(), bytes.size());
    EXPECT_TRUE(one_pass(input) == bytes);
    EXPECT_TRUE(one_pass(input) == bytes);
    EXPECT_TRUE(one_pass(input, true) == bytes);
}

// Mapped in place from any offset of standard input (none of them on a page
// border), across the windows' borders.
TEST_F(InputFile, ViewsOfAFileFromAnyOffset) {
    const std::string path = dir + "/f", bytes = random_bytes((9 << 20) + 3, 33);
    write_file(path, bytes);
    for (const off_t offset : {0, 1, 4095, 4097, (4 << 20) + 1}) {
        const int fd = open(path.c_str(), O_RDONLY), saved = dup(STDIN_FILENO);
        ASSERT_GE(lseek(fd, offset, SEEK_SET), 0);
        dup2(fd, STDIN_FILENO);
        Input input;
        EXPECT_EQ(input.take_stdin(), 0);
        EXPECT_TRUE(one_pass(input, true) == bytes.substr(static_cast<size_t>(offset))) << offset;
        dup2(saved, STDIN_FILENO);
        close(saved);
        close(fd);
    }
}

// A file cut short while a piece of it is mapped: the bytes past its new end
// read as zeros, and the pass fails (EIO) instead of the process dying.
TEST_F(InputFile, AFileCutWhileMappedFails) {
    const std::string path = dir + "/f", bytes(600000, 'x');
    write_file(path, bytes);
    Input input;
    ASSERT_EQ(input.take_file(path.c_str()), 0);
    std::string seen;
    const Input::Pass pass = input.each_view([&](const char *p, size_t n) {
        EXPECT_EQ(truncate(path.c_str(), 1000), 0);
        seen.assign(p + n - 10, 10);
        return true;
    });
    EXPECT_EQ(pass, Input::Pass::kReadFailed);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(seen, std::string(10, '\0'));
}

TEST_F(InputFile, AFileThatChangesBetweenPassesFails) {
    const std::string path = dir + "/f", bytes = random_bytes(600000, 31);
    const auto changes = std::vector<std::pair<const char *, void (*)(const std::string &)>>{
        {"grown", [](const std::string &p) { std::ofstream(p, std::ios::app) << "x"; }},
        {"shrunk", [](const std::string &p) { ASSERT_EQ(truncate(p.c_str(), 1000), 0); }},
        {"rewritten", [](const std::string &p) {
             const timespec times[2] = {{0, UTIME_OMIT}, {12345, 0}};  // same size, new modification time
             ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
         }},
    };
    for (const auto &[what, change] : changes) {
        write_file(path, bytes);
        Input input;
        ASSERT_EQ(input.take_file(path.c_str()), 0);
        ASSERT_TRUE(one_pass(input) == bytes) << what;
        change(path);
        EXPECT_EQ(one_pass(input), "<failed: " + std::to_string(EIO) + ">") << what;
        EXPECT_EQ(one_pass(input, true), "<failed: " + std::to_string(EIO) + ">") << what;
    }
}

TEST_F(InputFile, InputWrittenOverIsCopiedAsideFirst) {
    const std::string path = dir + "/f", bytes = random_bytes(700000, 32);
    write_file(path, bytes);
    Input input;
    ASSERT_EQ(input.take_file(path.c_str()), 0);
    const int out = open(path.c_str(), O_WRONLY);
    const int other = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    EXPECT_TRUE(input.shares_file(out));
    EXPECT_FALSE(input.shares_file(other));
    ASSERT_EQ(input.spool_copy(), 0);
    EXPECT_TRUE(input.fully_read());
    ASSERT_EQ(ftruncate(out, 0), 0);
    EXPECT_FALSE(input.shares_file(out));
    EXPECT_TRUE(one_pass(input) == bytes);
    close(out);
    close(other);
}

TEST(InputString, IsOnePieceInMemory) {
    Input input;
    ASSERT_EQ(input.take_string("a value"), 0);
    EXPECT_TRUE(input.fully_read());
    EXPECT_EQ(one_pass(input), "a value");
}

}  // namespace
