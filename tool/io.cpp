#include "io.h"

#include <fcntl.h>  // splice (GNU)
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kestrin::tool {

Fd &Fd::operator=(Fd &&other) noexcept {
    if (this != &other) {
        Fd old(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

Fd::~Fd() {
    if (fd_ < 0) return;
    const int saved = errno;
    ::close(fd_);
    errno = saved;
}

Output::Output(int fd) : fd_(fd), buffer_(std::make_unique_for_overwrite<char[]>(kSize)) {}

bool Output::put(const char *p, size_t n) {
    if (error_ != 0 || (used_ + n > kSize && !flush())) return false;
    if (n >= kSize / 2) return write(p, n);
    std::memcpy(buffer_.get() + used_, p, n);
    used_ += n;
    return true;
}

bool Output::flush() {
    const size_t n = used_;
    used_ = 0;
    return error_ == 0 && write(buffer_.get(), n);
}

bool Output::write(const char *p, size_t n) {
    if (n == 0 || write_full(fd_, p, n)) return true;
    error_ = errno;
    return false;
}

std::string directory_of(const std::string &path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

void sync_directory(const std::string &dir) {
    const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);  // best effort: the rename has been made either way
    ::close(fd);
}

void keep_owner(int fd, const struct stat &old) {
    struct stat now;
    if (::fstat(fd, &now) != 0 || (now.st_uid == old.st_uid && now.st_gid == old.st_gid)) return;
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) errno = 0;  // not allowed: the writer's it stays
}

long pread_full(int fd, char *buffer, size_t n, long offset) {
    size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd, buffer + done, n - done, static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    return static_cast<long>(done);
}

std::optional<Drained> splice_all(int in, int out, long limit) {
    long total = 0;
    for (;;) {
        const ssize_t got = ::splice(in, nullptr, out, nullptr, 1 << 20, SPLICE_F_MOVE);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && total == 0 && errno == EINVAL) return std::nullopt;
        if (got < 0) return Drained{total, errno == ENOSPC || errno == EIO ? End::kSinkFailed : End::kReadFailed};
        if (got == 0) return Drained{total, End::kData};
        if (got > limit - total) {
            errno = EFBIG;
            return Drained{total, End::kTooLarge};
        }
        total += got;
    }
}

}  // namespace kestrin::tool
