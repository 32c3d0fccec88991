// Whole-file, line and word reading.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "ekva/strlist.h"
#include "util/alloc_internal.h"
#include "util/fd_internal.h"
#include "util/file.h"
#include "util/file_internal.h"
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
    // Opened without waiting: a FIFO that no writer has open would block the
    // open itself forever; read, it just ends at once.
    const fd::Fd file(::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) return nullptr;
    struct stat st {};
    if (::fstat(file.get(), &st) != 0) return nullptr;
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        // Reads of a stream wait for its writers again.
        const int flags = ::fcntl(file.get(), F_GETFL);
        if (flags < 0 || ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK) < 0) return nullptr;
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

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The words of one line after its comment is cut off, or NULL.
char **words_of(std::string_view line) {
    const size_t hash = line.find('#');
    if (hash == 0) return nullptr;
    if (hash != std::string_view::npos) line = line.substr(0, hash);
    char **words = nullptr;
    int count = 0, capacity = 8;
    auto store = [&](std::string_view word) {
        const int before = count;
        count = strlist_push(&words, std::string(word).c_str(), count, &capacity);
        return count != before;
    };
    size_t start = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        if (!is_blank(line[i])) continue;
        // A run of blanks separates only once.
        if ((i == 0 || !is_blank(line[i - 1])) && !store(line.substr(start, i - start))) {
            strlist_free(words);
            return nullptr;
        }
        start = i + 1;
    }
    if (!store(line.substr(start))) {
        strlist_free(words);
        return nullptr;
    }
    return words;
}

}  // namespace

extern "C" char *file_read_all(const char *path, int *len) {
    size_t size = 0;
    char *data = file::read_whole(path, 10, &size);
    if (len) *len = data ? static_cast<int>(size) : 0;
    return data;
}

extern "C" char **file_read_lines(const char *path, int *count) {
    if (count) *count = 0;
    size_t size = 0;
    char *data = file::read_whole(path, 1, &size);
    if (!data) return nullptr;
    char **lines = nullptr;
    int n = 0, capacity = 100;
    bool ok = true;
    std::string line;
    try {
        for (size_t start = 0; ok && start < size;) {
            const char *lf = static_cast<const char *>(std::memchr(data + start, '\n', size - start));
            const size_t end = lf ? static_cast<size_t>(lf - data) : size;
            line.assign(line::as_text({data + start, end - start}));
            const int before = n;
            n = strlist_push(&lines, line.c_str(), n, &capacity);
            ok = n != before;
            start = end + 1;
        }
    } catch (...) {
        ok = false;
    }
    std::free(data);
    if (!ok) {
        strlist_free(lines);
        return nullptr;
    }
    if (count) *count = n;
    return lines;
}

extern "C" char **stream_read_words(FILE *stream) {
    if (!stream || std::feof(stream)) return nullptr;
    line::Reader reader;
    std::string_view raw;
    if (!reader.next(stream, raw)) return nullptr;
    const std::string_view text = line::as_text(line::without_line_end(raw));
    if (text.empty()) return nullptr;  // a blank line (or one that begins with a NUL)
    try {
        return words_of(text);
    } catch (...) {
        return nullptr;
    }
}
