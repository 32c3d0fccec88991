/*
 * input - the tool's value: the whole of standard input or of a named file.
 * Bytes are taken as they are, NUL bytes included.
 *
 * Where the bytes are kept:
 *   - a regular file (named, or as standard input from its current offset to
 *     its end) stays where it is and is read when needed;
 *   - any other input (a pipe, a FIFO, a socket, a terminal) is kept in
 *     memory while it is at most 1 MiB long; a longer one is copied to a
 *     temporary file made from "$TMPDIR/zan_inputXXXXXX" (/tmp when TMPDIR
 *     is unset or empty), whose name is removed as soon as it exists, so
 *     nothing is left behind even when the process is killed. A short input
 *     never touches the file system.
 *
 * input_read_stdin / input_read_file read the whole input into one heap
 * buffer with one spare byte after the data (for a NUL the caller may
 * store). *length receives the byte count (0 for an empty input) or a
 * negative status; the buffer is returned (the caller frees it) only when
 * the count is greater than 0. On a negative status errno tells the system's
 * reason.
 *   -1  the path cannot be opened for reading, the input is a directory,
 *       or the temporary file cannot be created (errno tells why, such as
 *       ENOENT for a TMPDIR that does not exist)
 *   -3  the buffer that keeps a stream in memory cannot be allocated
 *   -4  the temporary file cannot be written
 *   -5  the result buffer cannot be allocated
 *   -7  a read failed, fewer bytes arrived than the file's size, or the file
 *       changed while it was read (EIO)
 *   -8  the input is 2 GiB or larger (errno EFBIG)
 */
#ifndef KESTRIN_TOOL_INPUT_H
#define KESTRIN_TOOL_INPUT_H

#include "kestrin_api.h" /* KESTRIN_NOEXCEPT */

#ifdef __cplusplus
extern "C" {
#endif

char *input_read_stdin(int *length) KESTRIN_NOEXCEPT;
char *input_read_file(const char *path, int *length) KESTRIN_NOEXCEPT;

#ifdef __cplusplus
}

#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string_view>

#include "io.h"
#include "mapped.h"

namespace kestrin::tool {

// The input of one run, kept as described above and read in pieces, as many
// times as the run needs, through one reused buffer: memory stays bounded
// whatever the size of the input. A file read in place must hold the same
// bytes at every pass; one that shrinks, grows or is written in between
// makes the pass fail with EIO.
class Input {
public:
    // Each takes the input: 0, or a negative status of the table above with
    // errno set.
    int take_string(std::string_view text);
    int take_file(const char *path);
    int take_stdin();

    size_t size() const { return size_; }
    // Whether every byte has been read already (a file read in place has
    // not: a pass over it finds out whether it can be read).
    bool fully_read() const { return in_memory_ || spooled_; }
    // The longest piece a pass hands over.
    size_t piece_size() const { return in_memory_ ? size_ : std::min(size_, kPiece); }

    enum class Pass { kDone, kStopped, kReadFailed };

    // Hands each piece in order to f(char *piece, size_t n), which returns
    // false to stop. piece[n] may be written. kReadFailed: errno tells.
    template <class F>
    Pass each_piece(F &&f) {
        if (in_memory_) return f(data_.get(), size_) ? Pass::kDone : Pass::kStopped;
        for (size_t done = 0; done < size_;) {
            const size_t n = std::min(kPiece, size_ - done);
            char *piece = read_piece(done, n);
            if (!piece) return Pass::kReadFailed;
            done += n;
            if (!f(piece, n)) return Pass::kStopped;
        }
        return unchanged() ? Pass::kDone : Pass::kReadFailed;
    }

    // As each_piece, for a pass that only looks at the bytes: f(const char
    // *piece, size_t n) is handed the bytes of a file in pieces of up to
    // kView, mapped in place rather than copied (a file that cannot be
    // mapped is read as each_piece reads it), which spares the copy through
    // the kernel that is most of a pass over a large file. A file that
    // shrinks while a piece of it is looked at fails the pass (EIO) once f
    // returns; the bytes past its new end were zeros to f.
    template <class F>
    Pass each_view(F &&f) {
        if (in_memory_) return f(static_cast<const char *>(data_.get()), size_) ? Pass::kDone : Pass::kStopped;
        MappedWindows windows(fd_, start_);
        for (size_t done = 0; done < size_;) {
            size_t n = std::min(kView, size_ - done);
            const char *piece = windows.view(done, n);
            if (!piece) {  // not mapped: read, a piece at a time
                n = std::min(kPiece, size_ - done);
                piece = read_piece(done, n);
                if (!piece) return Pass::kReadFailed;
            }
            const bool go = f(piece, n);
            if (windows.faulted()) {
                errno = EIO;
                return Pass::kReadFailed;
            }
            if (!go) return Pass::kStopped;
            done += n;
        }
        return unchanged() ? Pass::kDone : Pass::kReadFailed;
    }

    // Takes one line feed, or one CR LF, at the end of the input out of it
    // (before anything else reads it). false when reading the last bytes
    // failed (errno tells).
    bool drop_final_newline();

    // Whether the input is read in place from the file that fd writes.
    bool shares_file(int fd) const;
    // Copies an input read in place to a temporary file, to be read from
    // there: 0 or a negative status.
    int spool_copy();
    // Leaves a shared file offset (standard input) after the data, where
    // reading it through would have left it.
    void skip_to_end() const;
    // The whole input in a new malloc'd buffer of size() + 1 bytes (null
    // with *status set when that fails).
    char *whole(int *status);

private:
    static constexpr size_t kPiece = size_t{256} << 10;        // read from a file at a time
    static constexpr size_t kView = size_t{4} << 20;           // mapped at a time by each_view
    static constexpr size_t kMemoryLimit = size_t{1} << 20;    // a stream up to this long stays in memory

    struct FreeDeleter {
        void operator()(char *p) const { std::free(p); }
    };

    int take_fd(int fd);
    int take_stream(int fd);
    int make_spool();
    bool allocate(size_t n);
    bool read_at(char *out, size_t from, size_t n) const;
    // The n bytes (at most kPiece) from offset `from`, read into the piece
    // buffer (made on first use); null when that fails (errno tells).
    char *read_piece(size_t from, size_t n);
    bool unchanged() const;

    std::unique_ptr<char, FreeDeleter> data_;  // the bytes in memory, or the piece buffer
    Fd owned_, spool_;
    int fd_ = -1;
    off_t start_ = 0, end_ = 0;
    timespec modified_{};
    size_t size_ = 0;
    bool in_memory_ = false, spooled_ = false;
};

}  // namespace kestrin::tool

#endif

#endif
