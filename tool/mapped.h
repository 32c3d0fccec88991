// mapped - a regular file's bytes looked at in place, one window at a time,
// mapped into memory rather than copied through a buffer.
//
// A file that shrinks while a window of it is mapped would kill the process
// (SIGBUS) at the first byte past its new end. While a MappedWindows exists,
// such a fault inside its window is caught instead: the page is replaced by
// one of zeros, reading goes on, and faulted() tells the pass that its
// input changed, as a short read would. A fault anywhere else keeps the
// signal's default action. One MappedWindows at a time (the tool reads one
// input on one thread).
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace kestrin::tool {

class MappedWindows {
public:
    // The file of fd from offset start on.
    MappedWindows(int fd, off_t start);
    ~MappedWindows();
    MappedWindows(const MappedWindows &) = delete;
    MappedWindows &operator=(const MappedWindows &) = delete;

    // The n bytes at offset `from` (from start), valid until the next call
    // or the end of this object; nullptr when they cannot be mapped (the
    // caller reads them instead).
    const char *view(size_t from, size_t n);
    // Whether a byte of a window was gone when it was read (the file
    // shrank): those bytes were read as zeros.
    bool faulted() const;

private:
    void unmap();

    int fd_;
    off_t start_;
    char *base_ = nullptr;
    size_t length_ = 0;
    bool guarded_ = false;
};

}  // namespace kestrin::tool
