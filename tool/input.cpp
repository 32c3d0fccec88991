#include "input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace kestrin::tool {
namespace {

constexpr std::string_view kSpoolName = "/zan_inputXXXXXX";  // in $TMPDIR, or /tmp
constexpr size_t kChunk = 65025;  // 255 * 255: what a stream that cannot be spliced is copied in

enum Status {
    kOpenFailed = -1,
    kNoHold = -3,
    kShortWrite = -4,
    kNoBuffer = -5,
    kShortRead = -7,
    kTooLarge = -8,
};

// The status of a copy that did not run to its end.
int status_of(End end) {
    switch (end) {
        case End::kSinkFailed: return kShortWrite;
        case End::kTooLarge: return kTooLarge;
        default: return kShortRead;
    }
}

}  // namespace

int Input::take_string(std::string_view text) {
    if (!allocate(text.size() + 1)) return kNoHold;
    std::memcpy(data_.get(), text.data(), text.size());
    size_ = text.size();
    in_memory_ = true;
    return 0;
}

int Input::take_file(const char *path) {
    owned_ = Fd(::open(path, O_RDONLY | O_CLOEXEC));
    return owned_.get() < 0 ? kOpenFailed : take_fd(owned_.get());
}

int Input::take_stdin() { return take_fd(STDIN_FILENO); }

// A regular file is read in place from its current offset to its end, its
// size known from the file system; anything else is a stream.
int Input::take_fd(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return kOpenFailed;
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return kOpenFailed;
    }
    const off_t offset = S_ISREG(st.st_mode) ? ::lseek(fd, 0, SEEK_CUR) : -1;
    if (offset < 0) return take_stream(fd);
    const off_t size = st.st_size > offset ? st.st_size - offset : 0;
    if (size > INT_MAX) {
        errno = EFBIG;
        return kTooLarge;
    }
    fd_ = fd;
    start_ = offset;
    end_ = st.st_size;
    modified_ = st.st_mtim;
    size_ = static_cast<size_t>(size);
    return 0;
}

// A stream of unknown length: kept in memory while short, else spooled (a
// pipe inside the kernel, anything else through the buffer).
int Input::take_stream(int fd) {
    // A larger pipe lets the writer hand over more per wake-up (a no-op
    // for anything that is no pipe, or where the system refuses).
    ::fcntl(fd, F_SETPIPE_SZ, static_cast<int>(kMemoryLimit));
    if (!allocate(kMemoryLimit + 2)) return kNoHold;
    const long got = read_full(fd, data_.get(), kMemoryLimit + 1);
    if (got < 0) return kShortRead;
    size_ = static_cast<size_t>(got);
    if (size_ <= kMemoryLimit) {
        in_memory_ = true;
        return 0;
    }
    if (const int status = make_spool()) return status;
    if (!write_full(spool_.get(), data_.get(), size_)) return kShortWrite;
    const long limit = INT_MAX - static_cast<long>(size_);
    auto rest = splice_all(fd, spool_.get(), limit);
    if (!rest) rest = copy(fd, spool_.get(), {data_.get(), kChunk}, limit);
    if (rest->end != End::kData) return status_of(rest->end);
    size_ += static_cast<size_t>(rest->total);
    fd_ = spool_.get();
    start_ = 0;
    end_ = static_cast<off_t>(size_);
    spooled_ = true;
    return 0;
}

// An unnamed temporary file in $TMPDIR (/tmp when that is unset or empty):
// the name is removed as soon as it exists, so the data lives on only
// through the open descriptor.
int Input::make_spool() {
    const char *env = std::getenv("TMPDIR");
    const std::string_view dir = env && *env ? env : "/tmp";
    // Built without exceptions: the readers of input.h have C linkage.
    const std::unique_ptr<char, FreeDeleter> path(static_cast<char *>(std::malloc(dir.size() + kSpoolName.size() + 1)));
    if (!path) {
        errno = ENOMEM;
        return kOpenFailed;
    }
    std::memcpy(path.get(), dir.data(), dir.size());
    std::memcpy(path.get() + dir.size(), kSpoolName.data(), kSpoolName.size());
    path.get()[dir.size() + kSpoolName.size()] = '\0';
    spool_ = Fd(::mkstemp(path.get()));
    if (spool_.get() < 0) return kOpenFailed;
    ::unlink(path.get());
    return 0;
}

bool Input::allocate(size_t n) {
    data_.reset(static_cast<char *>(std::malloc(n)));
    if (!data_) errno = ENOMEM;
    return data_ != nullptr;
}

// Exactly n bytes from offset `from` of the data; a file that ends early has
// changed (EIO).
bool Input::read_at(char *out, size_t from, size_t n) const {
    const long got = pread_full(fd_, out, n, static_cast<long>(start_) + static_cast<long>(from));
    if (got < 0) return false;
    if (static_cast<size_t>(got) == n) return true;
    errno = EIO;
    return false;
}

char *Input::read_piece(size_t from, size_t n) {
    if (!data_ && !allocate(piece_size() + 1)) return nullptr;
    return read_at(data_.get(), from, n) ? data_.get() : nullptr;
}

bool Input::drop_final_newline() {
    char last[2] = {};
    const size_t n = std::min<size_t>(size_, 2);
    if (n == 0) return true;
    if (in_memory_)
        std::memcpy(last, data_.get() + size_ - n, n);
    else if (!read_at(last, size_ - n, n))
        return false;
    if (last[n - 1] != '\n') return true;
    size_ -= n == 2 && last[0] == '\r' ? 2 : 1;
    return true;
}

// After a pass over a file: the length and, for a file read in place, the
// modification time it had when taken.
bool Input::unchanged() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return false;
    const bool same = st.st_size == end_ && (spooled_ || (st.st_mtim.tv_sec == modified_.tv_sec &&
                                                          st.st_mtim.tv_nsec == modified_.tv_nsec));
    if (!same) errno = EIO;
    return same;
}

bool Input::shares_file(int fd) const {
    if (fully_read()) return false;
    struct stat in {}, out {};
    return ::fstat(fd_, &in) == 0 && ::fstat(fd, &out) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

int Input::spool_copy() {
    if (const int status = make_spool()) return status;
    bool written = true;
    const Pass pass = each_piece([&](char *p, size_t n) { return written = write_full(spool_.get(), p, n); });
    if (!written) return kShortWrite;
    if (pass != Pass::kDone) return kShortRead;
    fd_ = spool_.get();
    start_ = 0;
    end_ = static_cast<off_t>(size_);
    spooled_ = true;
    return 0;
}

void Input::skip_to_end() const {
    if (!fully_read()) ::lseek(fd_, end_, SEEK_SET);
}

char *Input::whole(int *status) {
    *status = static_cast<int>(size_);
    if (size_ == 0) return nullptr;
    if (in_memory_) return data_.release();  // already size + 2 bytes at least
    char *out = static_cast<char *>(std::malloc(size_ + 1));
    if (!out) {
        errno = ENOMEM;
        *status = kNoBuffer;
        return nullptr;
    }
    if (!read_at(out, 0, size_) || !unchanged()) {
        free_keeping_errno(out);
        *status = kShortRead;
        return nullptr;
    }
    skip_to_end();
    return out;
}

}  // namespace kestrin::tool

namespace {

char *deliver(kestrin::tool::Input &input, int taken, int *length) {
    if (taken < 0) {
        *length = taken;
        return nullptr;
    }
    return input.whole(length);
}

}  // namespace

extern "C" char *input_read_stdin(int *length) noexcept {
    kestrin::tool::Input input;
    return deliver(input, input.take_stdin(), length);
}

extern "C" char *input_read_file(const char *path, int *length) noexcept {
    kestrin::tool::Input input;
    return deliver(input, input.take_file(path), length);
}
