#include "util/file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "support.h"

namespace {

class FileOps : public testutil::TempDirTest {
protected:
    mode_t old_umask = umask(022);

    void TearDown() override { umask(old_umask); }
    std::string path(const std::string &name) const { return dir + "/" + name; }
    void write(const std::string &name, const std::string &bytes, mode_t mode = 0644) const {
        testutil::write_file(path(name), bytes);
        chmod(path(name).c_str(), mode);
    }
    std::string read(const std::string &name) const { return testutil::read_file(path(name)); }
    bool exists(const std::string &name) const {
        struct stat st {};
        return lstat(path(name).c_str(), &st) == 0;
    }
    mode_t bits(const std::string &name) const {
        struct stat st {};
        lstat(path(name).c_str(), &st);
        return st.st_mode & 07777;
    }
    int copy(const std::string &dst, const std::string &src, int mode) const {
        return file_copy(path(dst).c_str(), path(src).c_str(), mode);
    }
    // file_replace with the message it wrote.
    std::pair<int, std::string> replace(const std::string &dst, const std::string &src, const char *backup,
                                        int mode) const {
        testing::internal::CaptureStderr();
        const std::string b = backup ? path(backup) : "";
        const int r = file_replace(path(dst).c_str(), path(src).c_str(), backup ? b.c_str() : nullptr, mode);
        return {r, testing::internal::GetCapturedStderr()};
    }
};

TEST_F(FileOps, CopyModes) {
    const std::string content(300, 'x');
    write("src", content, 0750);
    EXPECT_EQ(copy("dst0", "src", 0), 300);
    EXPECT_EQ(read("dst0"), content);
    EXPECT_EQ(bits("dst0"), 0644u);  // as created under umask 022
    EXPECT_EQ(copy("dst1", "src", 1), 300);
    EXPECT_EQ(bits("dst1"), 0750u);
    EXPECT_EQ(copy("dst2", "src", 0600), 300);
    EXPECT_EQ(bits("dst2"), 0600u);
    write("existing", "old old old", 0604);
    EXPECT_EQ(copy("existing", "src", -5), 300);
    EXPECT_EQ(read("existing"), content);
    EXPECT_EQ(bits("existing"), 0604u);  // an existing file keeps its bits
}

TEST_F(FileOps, CopyCarriesSpecialBits) {
    write("src", "x", 04755);
    EXPECT_EQ(copy("dst", "src", 1), 1);
    EXPECT_EQ(bits("dst"), 04755u);
    EXPECT_EQ(copy("dst2", "src", 02711), 1);
    EXPECT_EQ(bits("dst2"), 02711u);
}

TEST_F(FileOps, CopyFailuresAreQuiet) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(copy("dst", "missing", 0), -1);
    EXPECT_FALSE(exists("dst"));
    mkdir(path("d").c_str(), 0755);
    EXPECT_EQ(copy("dst", "d", 0), -1);
    EXPECT_FALSE(exists("dst"));
    write("src", "abc");
    EXPECT_EQ(copy("nodir/dst", "src", 0), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    write("empty", "");
    EXPECT_EQ(copy("dst", "empty", 0), 0);
    EXPECT_TRUE(exists("dst"));
    EXPECT_EQ(read("dst"), "");
}

TEST_F(FileOps, CopyOntoItselfTouchesNothing) {
    write("a", "precious");
    EXPECT_EQ(copy("a", "a", 0), -1);
    EXPECT_EQ(read("a"), "precious");
    ASSERT_EQ(symlink(path("a").c_str(), path("link").c_str()), 0);
    EXPECT_EQ(copy("link", "a", 0), -1);
    ASSERT_EQ(link(path("a").c_str(), path("hard").c_str()), 0);
    EXPECT_EQ(copy("hard", "a", 0), -1);
    EXPECT_EQ(copy("a", "link", 0), -1);
    EXPECT_EQ(read("a"), "precious");
}

TEST_F(FileOps, CopyOfTwoGibibytesFailsBeforeWriting) {
    write("big", "");
    ASSERT_EQ(truncate(path("big").c_str(), 2147483648LL), 0);
    EXPECT_EQ(copy("dst", "big", 0), -1);
    EXPECT_FALSE(exists("dst"));
}

TEST_F(FileOps, CopyToAFullDeviceFails) {
    write("src", std::string(100000, 'z'));
    EXPECT_EQ(file_copy("/dev/full", path("src").c_str(), 0), -1);
}

TEST_F(FileOps, ReplaceWithBackup) {
    write("dst", "old contents", 0640);
    write("src", "new contents!", 0755);
    const auto [r, err] = replace("dst", "src", "dst.bak", 1);
    EXPECT_EQ(r, 13);
    EXPECT_EQ(err, "");
    EXPECT_EQ(read("dst"), "new contents!");
    EXPECT_EQ(bits("dst"), 0755u);
    EXPECT_EQ(read("dst.bak"), "old contents");
    EXPECT_EQ(bits("dst.bak"), 0640u);
    EXPECT_EQ(read("src"), "new contents!");  // a copy, not a rename
}

TEST_F(FileOps, ReplaceMissingDestinationMakesNoBackup) {
    write("src", "abc");
    const auto [r, err] = replace("dst", "src", "dst.bak", 0);
    EXPECT_EQ(r, 3);
    EXPECT_EQ(err, "");
    EXPECT_FALSE(exists("dst.bak"));
    EXPECT_EQ(read("dst"), "abc");
}

TEST_F(FileOps, ReplaceSymbolicLinkKeepsItsTarget) {
    write("target", "target contents");
    write("src", "source");
    ASSERT_EQ(symlink(path("target").c_str(), path("dst").c_str()), 0);
    const auto [r, err] = replace("dst", "src", "dst.bak", 0);
    EXPECT_EQ(r, 6);
    struct stat st {};
    ASSERT_EQ(lstat(path("dst").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(read("dst"), "source");
    EXPECT_EQ(read("target"), "target contents");
    EXPECT_FALSE(exists("dst.bak"));
}

TEST_F(FileOps, ReplaceRefusesNonRegularDestinations) {
    write("src", "abc");
    mkdir(path("dir").c_str(), 0755);
    auto [r, err] = replace("dir", "src", "bak", 0);
    EXPECT_EQ(r, -1);
    EXPECT_EQ(err, path("dir") + " is not a regular file, refusing to remove it\n");
    struct stat st {};
    EXPECT_EQ(stat(path("dir").c_str(), &st), 0);
    EXPECT_FALSE(exists("bak"));
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
    std::tie(r, err) = replace("fifo", "src", nullptr, 0);
    EXPECT_EQ(err, path("fifo") + " is not a regular file, refusing to remove it\n");
}

TEST_F(FileOps, ReplaceMessages) {
    write("dst", "keep me");
    auto [r, err] = replace("dst", "missing", nullptr, 0);
    EXPECT_EQ(r, -1);
    EXPECT_EQ(err, "Failed to stat " + path("missing") + ": No such file or directory\n");
    EXPECT_EQ(read("dst"), "keep me");

    mkdir(path("srcdir").c_str(), 0755);
    std::tie(r, err) = replace("dst", "srcdir", "bak", 0);
    EXPECT_EQ(r, -1);
    EXPECT_EQ(err, "Failed to open " + path("srcdir") + " for reading: Is a directory\n");
    EXPECT_EQ(read("dst"), "keep me");  // the source is opened before anything is removed
    EXPECT_FALSE(exists("bak"));

    write("src", "abc");
    std::tie(r, err) = replace("dst", "src", "nodir/bak", 0);
    EXPECT_EQ(r, -1);
    EXPECT_EQ(err, "Failed to open " + path("nodir/bak") + " for writing: No such file or directory\n");
    EXPECT_EQ(read("dst"), "keep me");

    std::tie(r, err) = replace("nodir/dst", "src", nullptr, 0);
    EXPECT_EQ(r, -1);
    EXPECT_EQ(err, "Failed to open " + path("nodir/dst") + " for writing: No such file or directory\n");
}

TEST_F(FileOps, ReplaceRefusesTheSameFile) {
    write("a", "precious");
    auto [r, err] = replace("a", "a", "a.bak", 0);
    EXPECT_EQ(r, -1);
    EXPECT_EQ(err, path("a") + " and " + path("a") + " are the same file\n");
    ASSERT_EQ(link(path("a").c_str(), path("hard").c_str()), 0);
    std::tie(r, err) = replace("hard", "a", nullptr, 0);
    EXPECT_EQ(err, path("a") + " and " + path("hard") + " are the same file\n");
    write("b", "other");
    std::tie(r, err) = replace("b", "a", "a", 0);  // the backup would overwrite the source
    EXPECT_EQ(r, -1);
    EXPECT_EQ(err, path("a") + " and " + path("a") + " are the same file\n");
    EXPECT_EQ(read("a"), "precious");
    EXPECT_EQ(read("b"), "other");
    EXPECT_FALSE(exists("a.bak"));
}

TEST_F(FileOps, ReplaceSetsRequestedBits) {
    write("src", "abc");
    const auto [r, err] = replace("dst", "src", nullptr, 0600);
    EXPECT_EQ(r, 3);
    EXPECT_EQ(err, "");
    EXPECT_EQ(bits("dst"), 0600u);
}

}  // namespace
