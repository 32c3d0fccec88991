#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ekva/strlist.h"
#include "support.h"
#include "util/alloc_internal.h"
#include "util/file.h"

namespace {

using V = std::vector<std::string>;

class FileRead : public testutil::TempDirTest {
protected:
    V lines(const std::string &bytes, int *count_out = nullptr) {
        int count = -1;
        char **list = file_read_lines(file("lines", bytes).c_str(), &count);
        V v;
        for (char **p = list; p && *p; ++p) v.push_back(*p);
        EXPECT_EQ(count, static_cast<int>(v.size()));
        if (count_out) *count_out = count;
        strlist_free(list);
        return v;
    }
};

TEST_F(FileRead, AllOfAFile) {
    int len = -1;
    char *data = file_read_all(file("five", "ab\0de").c_str(), &len);
    ASSERT_NE(data, nullptr);
    // The std::string above stops at the NUL: two bytes were written.
    EXPECT_EQ(len, 2);
    std::free(data);
    std::ofstream(dir + "/five", std::ios::binary).write("ab\0de", 5);
    data = file_read_all((dir + "/five").c_str(), &len);
    EXPECT_EQ(len, 5);
    EXPECT_EQ(std::string(data, 5), std::string("ab\0de", 5));
    data[5] = '\0';  // the spare bytes are there for this
    std::free(data);
    data = file_read_all(file("empty", "").c_str(), &len);
    EXPECT_NE(data, nullptr);
    EXPECT_EQ(len, 0);
    std::free(data);
    len = 9;
    EXPECT_EQ(file_read_all((dir + "/missing").c_str(), &len), nullptr);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(file_read_all(dir.c_str(), &len), nullptr);
}

TEST_F(FileRead, PipesAndLargeFilesRefused) {
    // A pipe, named through /proc, with a writer that outlasts the pipe buffer.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const std::string big(200000, 'p');
    std::thread writer([&] {
        for (size_t off = 0; off < big.size();) {
            const ssize_t w = write(fds[1], big.data() + off, big.size() - off);
            if (w <= 0) break;
            off += static_cast<size_t>(w);
        }
        close(fds[1]);
    });
    int len = 0;
    char *data = file_read_all(("/proc/self/fd/" + std::to_string(fds[0])).c_str(), &len);
    writer.join();
    close(fds[0]);
    EXPECT_EQ(len, 200000);
    EXPECT_EQ(std::string(data, static_cast<size_t>(len)), big);
    std::free(data);
    // A device with nothing to read reads as empty (a FIFO whose writer
    // writes nothing: FifoRead below).
    len = 5;
    data = file_read_all("/dev/null", &len);
    EXPECT_NE(data, nullptr);
    EXPECT_EQ(len, 0);
    std::free(data);
    const std::string sparse = file("sparse", "");
    ASSERT_EQ(truncate(sparse.c_str(), 2147483648LL), 0);
    len = 5;
    EXPECT_EQ(file_read_all(sparse.c_str(), &len), nullptr);
    EXPECT_EQ(len, 0);
}

TEST_F(FileRead, Lines) {
    EXPECT_EQ(lines("a\nb"), (V{"a", "b"}));
    EXPECT_EQ(lines("a\n\nb\n"), (V{"a", "", "b"}));
    EXPECT_EQ(lines("x\r\n"), (V{"x\r"}));
    EXPECT_EQ(lines("only"), (V{"only"}));
    int count = -1;
    EXPECT_EQ(lines("", &count), V{});
    EXPECT_EQ(count, 0);
    std::string many;
    V want;
    for (int i = 0; i < 250; ++i) {
        want.push_back("line " + std::to_string(i));
        many += want.back() + "\n";
    }
    EXPECT_EQ(lines(many), want);
    count = 4;
    EXPECT_EQ(file_read_lines((dir + "/missing").c_str(), &count), nullptr);
    EXPECT_EQ(count, 0);
}

// Memory running out at any allocation gives the whole list or none (with
// count 0), and frees what was built (AddressSanitizer sees any leak).
TEST_F(FileRead, LinesWhenMemoryRunsOut) {
    const std::string path = file("lines", "one\ntwo\nthree\n");
    for (long fail_after = 0; fail_after < 8; ++fail_after) {
        int count = -1;
        kestrin::mem::fail_allocations_after(fail_after);
        char **list = file_read_lines(path.c_str(), &count);
        kestrin::mem::fail_allocations_after(-1);
        V v;
        for (char **p = list; p && *p; ++p) v.push_back(*p);
        strlist_free(list);
        if (list) {
            EXPECT_EQ(v, (V{"one", "two", "three"}));
            EXPECT_EQ(count, 3);
        } else {
            EXPECT_EQ(count, 0);
        }
    }
}


struct FifoCase {
    const char *label;
    std::vector<std::string> bursts;
    V lines;  // what file_read_lines gives
};
void PrintTo(const FifoCase &c, std::ostream *os) { *os << c.label; }

// Each writer opens the FIFO only after the reader has opened it and found
// it without a writer.
class FifoRead : public testutil::TempDirTest, public testing::WithParamInterface<FifoCase> {
protected:
    void SetUp() override {
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        std::signal(SIGALRM, testutil::fifo_reader_hung);
        alarm(30);
    }
    void TearDown() override { alarm(0); }
    std::string all_bytes() const {
        std::string all;
        for (const std::string &b : GetParam().bursts) all += b;
        return all;
    }
    const std::string fifo = dir + "/fifo";
};

TEST_P(FifoRead, AllWaitsForTheWriterAndReadsToItsEnd) {
    testutil::LateWriter writer(fifo, GetParam().bursts);
    int len = -1;
    char *data = file_read_all(fifo.c_str(), &len);
    writer.finish();
    EXPECT_TRUE(writer.wrote_all());
    ASSERT_NE(data, nullptr) << std::strerror(errno);
    EXPECT_EQ(std::string(data, static_cast<size_t>(len)), all_bytes());
    std::free(data);
}

TEST_P(FifoRead, LinesWaitForTheWriterAndReadToItsEnd) {
    testutil::LateWriter writer(fifo, GetParam().bursts);
    int count = -1;
    char **list = file_read_lines(fifo.c_str(), &count);
    writer.finish();
    EXPECT_TRUE(writer.wrote_all());
    EXPECT_EQ(testutil::to_vector(list), GetParam().lines);
    EXPECT_EQ(count, static_cast<int>(GetParam().lines.size()));
    if (GetParam().lines.empty()) {
        EXPECT_EQ(list, nullptr);  // as for an empty file
    }
    strlist_free(list);
}

INSTANTIATE_TEST_SUITE_P(
    Writers, FifoRead,
    testing::Values(FifoCase{"OneWrite", {"hello\n"}, {"hello"}},
                    // Pauses inside lines: a pause is not the end.
                    FifoCase{"Bursts", {"al", "pha\nbe", "ta\n", "gamma"}, {"alpha", "beta", "gamma"}},
                    // More than the FIFO holds: the writer waits for the reader.
                    FifoCase{"BurstsBeyondTheFifoBuffer",
                             {std::string(100000, 'a') + "\n", std::string(70000, 'b')},
                             {std::string(100000, 'a'), std::string(70000, 'b')}},
                    // Opened and closed: the end, with nothing in it.
                    FifoCase{"NothingWritten", {}, {}}),
    [](const testing::TestParamInfo<FifoCase> &info) { return std::string(info.param.label); });

class Words : public testutil::StreamTest {
protected:
    V next() {
        char **words = stream_read_words(stream);
        V v;
        if (!words) v.push_back("(null)");
        for (char **p = words; p && *p; ++p) v.push_back(*p);
        strlist_free(words);
        return v;
    }
};

TEST_F(Words, SplitsAtBlanksAndComments) {
    const std::string long_line(250, 'w');
    open("alpha beta\tgamma\n  x y  # comment\n# whole comment\n\n\r\n" + long_line + "\nz\nlast");
    EXPECT_EQ(next(), (V{"alpha", "beta", "gamma"}));
    EXPECT_EQ(next(), (V{"", "x", "y", ""}));
    EXPECT_EQ(next(), (V{"(null)"}));
    EXPECT_EQ(next(), (V{"(null)"}));
    EXPECT_EQ(next(), (V{"(null)"}));
    EXPECT_EQ(next(), (V{long_line}));
    EXPECT_EQ(next(), (V{"z"}));
    EXPECT_EQ(next(), (V{"last"}));
    EXPECT_EQ(next(), (V{"(null)"}));
    EXPECT_TRUE(std::feof(stream));
}

TEST_F(Words, AllOrNoneWhenMemoryRunsOut) {
    open("a bb ccc\n");
    for (long fail_after = 0; fail_after < 8; ++fail_after) {
        std::rewind(stream);
        kestrin::mem::fail_allocations_after(fail_after);
        const V got = next();
        kestrin::mem::fail_allocations_after(-1);
        EXPECT_TRUE(got == (V{"a", "bb", "ccc"}) || got == (V{"(null)"})) << fail_after;
        if (fail_after == 0) {
            EXPECT_EQ(got, (V{"(null)"}));
        }
        if (fail_after == 7) {
            EXPECT_EQ(got, (V{"a", "bb", "ccc"}));
        }
    }
}

}  // namespace
