// The LDIF readers that open a path (the file loaders and file references)
// read a FIFO as a blocking open would: they wait for its first writer and
// read to the end its writer gives, pauses and all.
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
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ldif/ldif.h"
#include "support.h"

namespace {

using testutil::V;

// A writer that comes to a FIFO late: from a thread of its own it waits a
// moment (time for the reader to open the FIFO and find it without a
// writer; on a loaded machine the writer may come early, and the reader
// must be right then too), opens the FIFO, writes each burst with a pause before it, and closes it.
// It opens without waiting, again and again while no reader has the FIFO
// open, and gives up once the reader is done or after ten seconds, so that
// a reader that came back early leaves no writer blocked for ever.
class LateWriter {
public:
    LateWriter(std::string path, std::vector<std::string> bursts)
        : path_(std::move(path)), bursts_(std::move(bursts)), thread_([this] { run(); }) {}
    ~LateWriter() { finish(); }
    LateWriter(const LateWriter &) = delete;
    LateWriter &operator=(const LateWriter &) = delete;
    // The reader is done: waits for the writer to give up or to end.
    void finish() {
        done_ = true;
        if (thread_.joinable()) thread_.join();
    }
    // Whether the writer opened the FIFO and wrote every burst.
    bool wrote_all() const { return wrote_all_; }

private:
    void run() {
        using namespace std::chrono_literals;
        // A reader that has gone makes a write fail (EPIPE) instead of
        // killing the process.
        sigset_t pipe_signal;
        sigemptyset(&pipe_signal);
        sigaddset(&pipe_signal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
        std::this_thread::sleep_for(200ms);
        int fd = -1;
        const auto give_up = std::chrono::steady_clock::now() + 10s;
        while (!done_ && std::chrono::steady_clock::now() < give_up) {
            fd = open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0 || errno != ENXIO) break;  // ENXIO: no reader yet
            std::this_thread::sleep_for(5ms);
        }
        if (fd < 0) return;
        bool ok = fcntl(fd, F_SETFL, 0) == 0;  // each write waits for room
        for (size_t i = 0; ok && i < bursts_.size(); ++i) {
            if (i > 0) std::this_thread::sleep_for(50ms);
            for (size_t off = 0; ok && off < bursts_[i].size();) {
                const ssize_t w = write(fd, bursts_[i].data() + off, bursts_[i].size() - off);
                ok = w > 0;
                if (ok) off += static_cast<size_t>(w);
            }
        }
        close(fd);
        wrote_all_ = ok;
    }

    const std::string path_;
    const std::vector<std::string> bursts_;
    std::atomic<bool> done_{false}, wrote_all_{false};
    std::thread thread_;  // last: it starts once the members above are set
};

// A reader that never comes back would hang the run: the test fails instead.
void reader_hung(int) {
    static const char message[] = "FIFO reader did not come back (30 s)\n";
    (void)!write(STDERR_FILENO, message, sizeof message - 1);
    _exit(1);
}

class LdifFifo : public testutil::TempDirTest {
protected:
    void SetUp() override {
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        std::signal(SIGALRM, reader_hung);
        alarm(30);
    }
    void TearDown() override {
        alarm(0);
        ldif_set_file_references(1);
    }
    const std::string fifo = dir + "/fifo";
};

// Two entries and the start of a third, with pauses inside an entry, inside
// a line and at the blank line between entries.
const std::vector<std::string> kEntryBursts = {"dn: cn=a\ncn: a\n\ndn: cn=b\nc", "n: b\n", "\n",
                                               "dn: cn=c\ncn: c\n"};

TEST_F(LdifFifo, FileLoaderWaitsForTheWriterAndReadsToItsEnd) {
    LateWriter writer(fifo, kEntryBursts);
    testutil::Set set;
    set.count = ldif_file2ekva_set(&set.s, fifo.c_str(), nullptr);
    writer.finish();
    EXPECT_TRUE(writer.wrote_all());
    EXPECT_EQ(set.count, 3);
    EXPECT_EQ(set.column("dn"), (V{"cn=a", "cn=b", "cn=c"}));
    EXPECT_EQ(set.column("cn"), (V{"a", "b", "c"}));
}

TEST_F(LdifFifo, AppendingFileLoaderWaitsForTheWriterAndReadsToItsEnd) {
    testutil::Set set;
    set.count = ldif2ekva_set(&set.s, "dn: cn=first\ncn: first\n", nullptr);
    ASSERT_EQ(set.count, 1);
    int capacity = set.count;
    LateWriter writer(fifo, kEntryBursts);
    set.count = ldif_file2ekva_set_append(&set.s, fifo.c_str(), nullptr, set.count, &capacity);
    writer.finish();
    EXPECT_TRUE(writer.wrote_all());
    EXPECT_EQ(set.column("dn"), (V{"cn=first", "cn=a", "cn=b", "cn=c"}));
}

struct RefForm {
    const char *label;
    const char *prefix;  // the line up to the path
    const char *name;    // the name parsed
};
void PrintTo(const RefForm &f, std::ostream *os) { *os << f.label; }

class FifoReference : public LdifFifo, public testing::WithParamInterface<RefForm> {};

TEST_P(FifoReference, WaitsForTheWriterAndReadsToItsEnd) {
    const std::string line = GetParam().prefix + fifo + "\nnext: line\n";
    LateWriter writer(fifo, {"\xff\xd8", "JP", "EG"});
    char *name = nullptr, *value = nullptr;
    int len = -1, binary = -1;
    const char *next = ldif_parse_line(line.c_str(), static_cast<int>(line.size()), &name, &value, &len, &binary);
    writer.finish();
    EXPECT_TRUE(writer.wrote_all());
    ASSERT_NE(next, nullptr);
    EXPECT_STREQ(next, "next: line\n");
    EXPECT_STREQ(name, GetParam().name);
    EXPECT_EQ(std::string(value, static_cast<size_t>(len)), "\xff\xd8JPEG");
    EXPECT_EQ(binary, 1);
    std::free(name);
    std::free(value);
}

INSTANTIATE_TEST_SUITE_P(Forms, FifoReference,
                         testing::Values(RefForm{"url", "jpegPhoto:< file://", "jpegPhoto"},
                                         RefForm{"path", "jpegPhoto:< ", "jpegPhoto"},
                                         RefForm{"binary", "description;binary: ", "description;binary"}),
                         [](const testing::TestParamInfo<RefForm> &info) { return std::string(info.param.label); });

TEST_F(LdifFifo, ReferenceInARecordWaitsForTheWriter) {
    LateWriter writer(fifo, {"\xff\xd8", "JPEG"});
    const testutil::Record record(ldif2ekva(("dn: cn=p\njpegPhoto:< file://" + fifo + "\ncn: p\n").c_str(), 0));
    writer.finish();
    EXPECT_TRUE(writer.wrote_all());
    EXPECT_EQ(testutil::entries(record.r), (V{"dn=cn=p", "jpegPhoto;binary=/9hKUEVH", "cn=p"}));
}

// A writer that opens the FIFO and closes it without writing gives the
// empty value, as an empty file does: no pair.
TEST_F(LdifFifo, ReferenceToAnEmptyWriterGivesNoPair) {
    LateWriter writer(fifo, {});
    const testutil::Record record(ldif2ekva(("dn: cn=p\njpegPhoto:< file://" + fifo + "\ncn: p\n").c_str(), 0));
    writer.finish();
    EXPECT_TRUE(writer.wrote_all());
    EXPECT_EQ(testutil::entries(record.r), (V{"dn=cn=p", "cn=p"}));
}

}  // namespace
