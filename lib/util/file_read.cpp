// Whole-file, line and word reading.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#include "util/alloc_internal.h"
#include "util/fd_internal.h"
#include "util/file.h"
#include "util/file_internal.h"
#include "util/grow_internal.h"
#include "util/line_internal.h"

namespace kestrin::file {
namespace {

constexpr size_t kLimit = static_cast<size_t>(INT_MAX);  // sizes of 2 GiB or more are refused

char *read_regular(int file, size_t size, size_t spare, size_t *out_size) {
    char *buffer = fd::read_exact(file, size, spare);
    if (buffer) *out_size = size;
    return buffer;
}

char *read_stream(int file, size_t spare, size_t *out_size) {
    size_t room = 65536, size = 0;
    char *buffer = static_cast<char *>(mem::allocate(room + spare));
    while (buffer) {
        const long got = fd::read_full(file, buffer + size, room - size);
        if (got < 0) break;
        size += static_cast<size_t>(got);
        if (size < room) {
            *out_size = size;
            return buffer;
        }
        if (room >= kLimit) {
            errno = EFBIG;
            break;
        }
        room = std::min(room * 2, kLimit + 1);
        char *grown = static_cast<char *>(mem::reallocate(buffer, room + spare));
        if (!grown) break;
        buffer = grown;
    }
    fd::free_keeping_errno(buffer);
    return nullptr;
}

}  // namespace

char *read_whole(const char *path, size_t spare, size_t *size) {
    *size = 0;
    if (!path) {
        errno = EINVAL;
        return nullptr;
    }
    // Opened without waiting, so that the open itself never hangs (on a
    // device that waits for a carrier, say); a stream then waits below.
    const fd::Fd file(::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) return nullptr;
    struct stat st {};
    if (::fstat(file.get(), &st) != 0) return nullptr;
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        // A stream is read to the end its writers give, as after a blocking
        // open. A FIFO that no writer has had open yet reads as ended at
        // once, so the first wait, for its first writer, is poll's; once
        // poll has reported data or a hang-up, blocking reads wait for each
        // writer's data and end when the last writer has gone.
        if (!fd::wait_readable(file.get()) || !fd::set_blocking(file.get())) return nullptr;
        return read_stream(file.get(), spare, size);
    }
    if (static_cast<unsigned long long>(st.st_size) > kLimit) {
        errno = EFBIG;
        return nullptr;
    }
    return read_regular(file.get(), static_cast<size_t>(st.st_size), spare, size);
}

}  // namespace kestrin::file

using namespace kestrin;

namespace {

// A string list (a null-terminated array of malloc'd strings) built by
// index, as strlist_push builds one; freed with its strings unless released.
class Lines {
public:
    explicit Lines(int capacity) : capacity_(capacity) {}
    Lines(const Lines &) = delete;
    Lines &operator=(const Lines &) = delete;
    ~Lines() {
        for (int i = 0; i < count_; ++i) std::free(items_[i]);
        std::free(items_);
    }
    // Appends a copy of text; false when memory runs out.
    bool push(std::string_view text) {
        char *copy = mem::duplicate(text);
        if (!copy) return false;
        if (!grow::make_room(items_, count_, &capacity_)) {
            std::free(copy);
            return false;
        }
        count_ = grow::store(items_, count_, copy);
        return true;
    }
    int count() const { return count_; }
    char **release() {
        count_ = 0;
        return std::exchange(items_, nullptr);
    }

private:
    char **items_ = nullptr;
    int count_ = 0;
    int capacity_;
};

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The words of one line after its comment is cut off, or NULL.
char **words_of(std::string_view line) {
    const size_t hash = line.find('#');
    if (hash == 0) return nullptr;
    if (hash != std::string_view::npos) line = line.substr(0, hash);
    Lines words(8);
    size_t start = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        if (!is_blank(line[i])) continue;
        // A run of blanks separates only once.
        if ((i == 0 || !is_blank(line[i - 1])) && !words.push(line.substr(start, i - start))) return nullptr;
        start = i + 1;
    }
    if (!words.push(line.substr(start))) return nullptr;
    return words.release();
}

}  // namespace

extern "C" char *file_read_all(const char *path, int *len) noexcept {
    size_t size = 0;
    char *data = file::read_whole(path, 10, &size);
    if (len) *len = data ? static_cast<int>(size) : 0;
    return data;
}

extern "C" char **file_read_lines(const char *path, int *count) noexcept {
    if (count) *count = 0;
    size_t size = 0;
    char *data = file::read_whole(path, 1, &size);
    if (!data) return nullptr;
    Lines lines(100);
    bool ok = true;
    for (size_t start = 0; ok && start < size;) {
        const char *lf = static_cast<const char *>(std::memchr(data + start, '\n', size - start));
        const size_t end = lf ? static_cast<size_t>(lf - data) + 1 : size;
        ok = lines.push(line::as_text(line::without_lf({data + start, end - start})));
        start = end;
    }
    std::free(data);
    if (!ok) return nullptr;
    if (count) *count = lines.count();
    return lines.release();
}

extern "C" char **stream_read_words(FILE *stream) noexcept {
    if (!stream || std::feof(stream)) return nullptr;
    line::Reader reader;
    std::string_view raw;
    if (!reader.next(stream, raw)) return nullptr;
    const std::string_view text = line::as_text(line::without_crlf(raw));
    if (text.empty()) return nullptr;  // a blank line (or one that begins with a NUL)
    return words_of(text);
}
