#include "input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <algorithm>
#include <iterator>

#include "io.h"

namespace {

constexpr size_t kChunk = 65025;  // 255 * 255
constexpr char kTemplate[] = "/tmp/zan_inputXXXXXX";

enum Status {
    kOpenFailed = -1,
    kNoChunk = -3,
    kShortWrite = -4,
    kNoBuffer = -5,
    kNoRewind = -6,
    kShortRead = -7,
    kTooLarge = -8,
};

using kestrin::tool::Copied;
using kestrin::tool::CopyEnd;
using kestrin::tool::Fd;

// The result of one read: either a buffer of count + 1 bytes, or a status.
struct Read {
    char *data = nullptr;
    long status = 0;
};

// Reads exactly size bytes from fd into a new buffer of size + 1 bytes.
Read read_known_size(int fd, size_t size) {
    if (size == 0) return {};
    char *data = kestrin::tool::read_exact(fd, size, 1);
    if (!data) return {nullptr, errno == ENOMEM ? kNoBuffer : kShortRead};
    return {data, static_cast<long>(size)};
}

// The byte count of a copy that ran to the end, or its status.
long status_of(const Copied &copied) {
    switch (copied.end) {
    case CopyEnd::kDone: return copied.total;
    case CopyEnd::kReadFailed: return kShortRead;
    case CopyEnd::kWriteFailed: return kShortWrite;
    case CopyEnd::kTooLarge: return kTooLarge;
    }
    return kShortRead;
}

// Copies fd to end of data into spool, returning the byte count or a status.
// A pipe's data moves inside the kernel; anything else goes through a chunk.
long copy_to_spool(int fd, int spool) {
    if (const auto moved = kestrin::tool::splice_all(fd, spool, INT_MAX)) return status_of(*moved);
    char *chunk = static_cast<char *>(std::malloc(kChunk));
    if (!chunk) return kNoChunk;
    const Copied copied = kestrin::tool::copy(fd, spool, {chunk, kChunk}, INT_MAX);
    kestrin::tool::free_keeping_errno(chunk);
    return status_of(copied);
}

// A stream of unknown size: spooled to an unnamed temporary file, then read
// back whole into a buffer of exactly its size.
Read read_unknown_size(int fd) {
    char path[sizeof kTemplate];
    std::copy(std::begin(kTemplate), std::end(kTemplate), path);
    const Fd spool(::mkstemp(path));
    if (spool.get() < 0) return {nullptr, kOpenFailed};
    ::unlink(path);  // the data lives on only through the open descriptor

    const long total = copy_to_spool(fd, spool.get());
    if (total <= 0) return {nullptr, total};
    if (::lseek(spool.get(), 0, SEEK_SET) != 0) return {nullptr, kNoRewind};
    return read_known_size(spool.get(), static_cast<size_t>(total));
}

// A regular file is read from its current offset to its end directly, its
// size known from the file system; anything else goes through the spool.
Read read_fd(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return {nullptr, kOpenFailed};
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return {nullptr, kOpenFailed};
    }
    const off_t offset = S_ISREG(st.st_mode) ? ::lseek(fd, 0, SEEK_CUR) : -1;
    if (offset < 0) return read_unknown_size(fd);
    const off_t size = st.st_size > offset ? st.st_size - offset : 0;
    if (size > INT_MAX) {
        errno = EFBIG;
        return {nullptr, kTooLarge};
    }
    return read_known_size(fd, static_cast<size_t>(size));
}

char *deliver(Read result, int *length) {
    *length = static_cast<int>(result.status);
    return result.status > 0 ? result.data : nullptr;
}

}  // namespace

extern "C" char *input_read_stdin(int *length) noexcept {
    return deliver(read_fd(STDIN_FILENO), length);
}

extern "C" char *input_read_file(const char *path, int *length) noexcept {
    const Fd fd(::open(path, O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return deliver({nullptr, kOpenFailed}, length);
    return deliver(read_fd(fd.get()), length);
}
