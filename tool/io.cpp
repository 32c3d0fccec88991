#include "io.h"

#include <fcntl.h>  // splice (GNU)
#include <unistd.h>

#include <cerrno>

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
