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


class LdifFifo : public testutil::TempDirTest {
protected:
    void SetUp() override {
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        std::signal(SIGALRM, testutil::fifo_reader_hung);
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
    testutil::LateWriter writer(fifo, kEntryBursts);
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
    testutil::LateWriter writer(fifo, kEntryBursts);
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
    testutil::LateWriter writer(fifo, {"\xff\xd8", "JP", "EG"});
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
    testutil::LateWriter writer(fifo, {"\xff\xd8", "JPEG"});
    const testutil::Record record(ldif2ekva(("dn: cn=p\njpegPhoto:< file://" + fifo + "\ncn: p\n").c_str(), 0));
    writer.finish();
    EXPECT_TRUE(writer.wrote_all());
    EXPECT_EQ(testutil::entries(record.r), (V{"dn=cn=p", "jpegPhoto;binary=/9hKUEVH", "cn=p"}));
}

// A writer that opens the FIFO and closes it without writing gives the
// empty value, as an empty file does: no pair.
TEST_F(LdifFifo, ReferenceToAnEmptyWriterGivesNoPair) {
    testutil::LateWriter writer(fifo, {});
    const testutil::Record record(ldif2ekva(("dn: cn=p\njpegPhoto:< file://" + fifo + "\ncn: p\n").c_str(), 0));
    writer.finish();
    EXPECT_TRUE(writer.wrote_all());
    EXPECT_EQ(testutil::entries(record.r), (V{"dn=cn=p", "cn=p"}));
}

}  // namespace
