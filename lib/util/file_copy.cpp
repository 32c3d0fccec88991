// File copy and replace through file descriptors, with permission handling.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "util/guard_internal.h"
#include "util/fd_internal.h"
#include "util/file.h"

namespace kestrin::file {
namespace {

constexpr size_t kChunk = 1 << 16;

using fd::Fd;

bool same_file(const struct stat &a, const struct stat &b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The file at path (following links) is the file described by st.
bool names_file(const char *path, const struct stat &st) {
    struct stat other {};
    return path && ::stat(path, &other) == 0 && same_file(other, st);
}

// Copies in to out until the end of in. Returns the bytes copied, or -1 on
// a read or write error, or when the count would pass 2 GiB (EFBIG).
long copy_fd(int in, int out) {
    char chunk[kChunk];
    const fd::Drained copied = fd::copy(in, out, chunk, INT_MAX);
    return copied.end == fd::End::kData ? copied.total : -1;
}

// Opens path for reading and refuses what cannot be copied whole: a
// directory, or a regular file of 2 GiB or more.
int open_source(const char *path) {
    Fd fd(::open(path, O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return -1;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return -1;
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return -1;
    }
    if (S_ISREG(st.st_mode) && st.st_size > INT_MAX) {
        errno = EFBIG;
        return -1;
    }
    return fd.release();
}

int open_for_writing(const char *path) { return ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666); }

// The permission bits that mode asks for, or -1 for none.
long wanted_bits(int mode, const struct stat &src) {
    if (mode == 1) return static_cast<long>(src.st_mode & 07777);
    if (mode > 1) return mode;
    return -1;
}

int copy(const char *dst, const char *src, int mode) {
    struct stat src_st {};
    if (!dst || !src || ::stat(src, &src_st) != 0) return -1;
    if (names_file(dst, src_st)) {
        errno = EINVAL;
        return -1;
    }
    Fd in(open_source(src));
    if (in.get() < 0) return -1;
    Fd out(open_for_writing(dst));
    if (out.get() < 0) return -1;
    const long copied = copy_fd(in.get(), out.get());
    in.reset();
    if (!out.close() || copied < 0) return -1;
    if (const long bits = wanted_bits(mode, src_st); bits >= 0) ::chmod(dst, static_cast<mode_t>(bits));
    return static_cast<int>(copied);
}

void report(const char *format, const char *path) {
    message(format, path, std::strerror(errno));
}

void report_copy(const char *from, const char *to) {
    message("Failed to copy %s to %s: %s\n", from, to, std::strerror(errno));
}

void set_bits(const char *path, long bits) {
    if (bits >= 0 && ::chmod(path, static_cast<mode_t>(bits)) != 0)
        report("Failed to set permission on %s: %s\n", path);
}

// Saves the regular file dst as backup with dst's permission bits.
bool save_backup(const char *dst, const char *backup, const struct stat &dst_st) {
    Fd old(::open(dst, O_RDONLY | O_CLOEXEC));
    if (old.get() < 0) {
        report("Failed to open %s for reading: %s\n", dst);
        return false;
    }
    Fd out(open_for_writing(backup));
    if (out.get() < 0) {
        report("Failed to open %s for writing: %s\n", backup);
        return false;
    }
    const long copied = copy_fd(old.get(), out.get());
    if (!out.close() || copied < 0) {
        report_copy(dst, backup);
        return false;
    }
    set_bits(backup, static_cast<long>(dst_st.st_mode & 07777));
    return true;
}

int replace(const char *dst, const char *src, const char *backup, int mode) {
    struct stat src_st {};
    if (::stat(src, &src_st) != 0) {
        report("Failed to stat %s: %s\n", src);
        return -1;
    }
    struct stat dst_st {};
    const bool dst_exists = ::lstat(dst, &dst_st) == 0;
    if (dst_exists && !S_ISLNK(dst_st.st_mode) && !S_ISREG(dst_st.st_mode)) {
        message("%s is not a regular file, refusing to remove it\n", dst);
        return -1;
    }
    // Copying a file onto itself would truncate it before it is read.
    if (names_file(dst, src_st)) {
        message("%s and %s are the same file\n", src, dst);
        return -1;
    }
    const bool with_backup = dst_exists && S_ISREG(dst_st.st_mode) && backup;
    if (with_backup && (names_file(backup, src_st) || names_file(backup, dst_st))) {
        message("%s and %s are the same file\n", backup, names_file(backup, src_st) ? src : dst);
        return -1;
    }

    Fd in(open_source(src));
    if (in.get() < 0) {
        report("Failed to open %s for reading: %s\n", src);
        return -1;
    }
    if (with_backup && !save_backup(dst, backup, dst_st)) return -1;
    if (dst_exists) ::unlink(dst);

    Fd out(open_for_writing(dst));
    if (out.get() < 0) {
        report("Failed to open %s for writing: %s\n", dst);
        return -1;
    }
    const long copied = copy_fd(in.get(), out.get());
    in.reset();
    if (!out.close() || copied < 0) {
        report_copy(src, dst);
        return -1;
    }
    set_bits(dst, wanted_bits(mode, src_st));
    return static_cast<int>(copied);
}

}  // namespace
}  // namespace kestrin::file

extern "C" int file_copy(const char *dst, const char *src, int mode) noexcept {
    return kestrin::file::copy(dst, src, mode);
}

extern "C" int file_replace(const char *dst, const char *src, const char *backup, int mode) noexcept {
    if (!dst || !src) return -1;
    return kestrin::file::replace(dst, src, backup, mode);
}
