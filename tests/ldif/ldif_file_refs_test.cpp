// File references under the caller's control: with ldif_set_file_references(0)
// the readers give the empty binary value without looking at the file.
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "ldif/ldif.h"
#include "support.h"

namespace {

struct Parsed {
    bool ok = false;
    std::string name;
    std::string value;
    int binary = -1;
};

Parsed parse(const std::string &line) {
    Parsed p;
    char *name = nullptr;
    char *value = nullptr;
    int len = -1;
    p.ok = ldif_parse_line(line.c_str(), static_cast<int>(line.size()), &name, &value, &len, &p.binary) != nullptr;
    if (p.ok) {
        p.name = name;
        p.value.assign(value, static_cast<size_t>(len));
    }
    std::free(name);
    std::free(value);
    return p;
}

// The number of events (open, read, close) inotify reports on path while fn runs.
int touches(const std::string &path, const std::function<void()> &fn) {
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    EXPECT_GE(fd, 0);
    EXPECT_GE(inotify_add_watch(fd, path.c_str(), IN_OPEN | IN_ACCESS | IN_CLOSE), 0);
    fn();
    int events = 0;
    alignas(inotify_event) char buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) {
        for (char *p = buf; p < buf + n; p += sizeof(inotify_event) + reinterpret_cast<inotify_event *>(p)->len)
            ++events;
    }
    close(fd);
    return events;
}

class FileReferences : public testutil::TempDirTest {
protected:
    void SetUp() override {
        secret = file("secret", "top secret");
        fifo = dir + "/fifo";
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    }
    // The setting is process-wide: every test leaves the default behind.
    void TearDown() override { ldif_set_file_references(1); }
    std::string secret, fifo;
};

TEST_F(FileReferences, SettingReturnsThePreviousOne) {
    EXPECT_EQ(ldif_set_file_references(0), 1);  // the default is on
    EXPECT_EQ(ldif_set_file_references(0), 0);
    EXPECT_EQ(ldif_set_file_references(7), 0);  // any non-zero value is on
    EXPECT_EQ(ldif_set_file_references(-1), 1);
    EXPECT_EQ(ldif_set_file_references(1), 1);
}

// Each reference form, to a readable file and to a FIFO nobody writes to.
struct RefCase {
    const char *label;
    const char *prefix;  // the line up to the path
    const char *name;    // the name parsed
};

class FileReferenceLines : public FileReferences, public testing::WithParamInterface<RefCase> {};

TEST_P(FileReferenceLines, OnReadsTheFile) {
    const RefCase &c = GetParam();
    Parsed p;
    EXPECT_GT(touches(secret, [&] { p = parse(c.prefix + secret + "\n"); }), 0);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.name, c.name);
    EXPECT_EQ(p.value, "top secret");
    EXPECT_EQ(p.binary, 1);
}

TEST_P(FileReferenceLines, OffGivesTheEmptyBinaryValueWithoutTouchingTheFile) {
    const RefCase &c = GetParam();
    ldif_set_file_references(0);
    for (const std::string &path : {secret, fifo, dir + "/missing"}) {
        SCOPED_TRACE(path);
        Parsed p;
        const std::string watched = path == dir + "/missing" ? dir : path;
        // A FIFO nobody writes to would be opened and read here if the path
        // were looked at; the call has to come back without doing either.
        EXPECT_EQ(touches(watched, [&] { p = parse(c.prefix + path + "\nnext: line\n"); }), 0);
        ASSERT_TRUE(p.ok);
        EXPECT_EQ(p.name, c.name);
        EXPECT_EQ(p.value, "");
        EXPECT_EQ(p.binary, 1);
    }
}

// With references off, each form reads exactly as a reference to a file that
// cannot be read.
TEST_P(FileReferenceLines, OffEqualsAnUnreadableFile) {
    const RefCase &c = GetParam();
    const Parsed unreadable = parse(c.prefix + dir + "/missing\n");
    ldif_set_file_references(0);
    const Parsed off = parse(c.prefix + secret + "\n");
    EXPECT_EQ(off.ok, unreadable.ok);
    EXPECT_EQ(off.name, unreadable.name);
    EXPECT_EQ(off.value, unreadable.value);
    EXPECT_EQ(off.binary, unreadable.binary);
}

INSTANTIATE_TEST_SUITE_P(Forms, FileReferenceLines,
                         testing::Values(RefCase{"url", "jpegPhoto:< file://", "jpegPhoto"},
                                         RefCase{"path", "jpegPhoto:< ", "jpegPhoto"},
                                         RefCase{"binary", "description;binary: ", "description;binary"}),
                         [](const testing::TestParamInfo<RefCase> &info) { return std::string(info.param.label); });

// The conversion to records reads through the same line reader: an entry from
// an untrusted text keeps its other lines and gets no pair for the reference.
TEST_F(FileReferences, ConversionLeavesTheReferenceOut) {
    const std::string text = "dn: cn=x\njpegPhoto:< file://" + secret + "\ncn: x\n";
    ekva_pair **on = ldif2ekva(text.c_str(), static_cast<int>(text.size()));
    ASSERT_NE(on, nullptr);
    ASSERT_NE(ekva_get(on, "jpegPhoto;binary"), nullptr);
    EXPECT_STREQ(ekva_get(on, "jpegPhoto;binary"), "dG9wIHNlY3JldA==");
    ekva_free(on);

    ldif_set_file_references(0);
    ekva_pair **off = nullptr;
    EXPECT_EQ(touches(secret, [&] { off = ldif2ekva(text.c_str(), static_cast<int>(text.size())); }), 0);
    ASSERT_NE(off, nullptr);
    EXPECT_EQ(ekva_get(off, "jpegPhoto;binary"), nullptr);
    EXPECT_STREQ(ekva_get(off, "dn"), "cn=x");
    EXPECT_STREQ(ekva_get(off, "cn"), "x");
    ekva_free(off);
}

}  // namespace
