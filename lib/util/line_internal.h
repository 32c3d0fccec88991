// Reading a stream one physical line at a time, of any length: the line
// reader behind csv_read_record and stream_read_words, the appender that
// ldif_read_entry reads straight into its result with; and the rules by
// which the readers take line ends off their lines.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace kestrin::line {

class Reader {
public:
    Reader() = default;
    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;
    ~Reader() { std::free(data_); }

    // The next line with its line feed, if it has one; false at the end of
    // the stream or on a read error. The view lasts until the next call.
    bool next(FILE *stream, std::string_view &raw) {
        const ssize_t got = getline(&data_, &room_, stream);
        if (got <= 0) return false;
        raw = std::string_view(data_, static_cast<size_t>(got));
        return true;
    }

private:
    char *data_ = nullptr;
    size_t room_ = 0;
};

// Holds a stream's lock for a run of append_line calls.
class StreamLock {
public:
    explicit StreamLock(FILE *stream) : stream_(stream) { flockfile(stream_); }
    StreamLock(const StreamLock &) = delete;
    StreamLock &operator=(const StreamLock &) = delete;
    ~StreamLock() { funlockfile(stream_); }

private:
    FILE *stream_;
};

// The bytes the stream has read ahead and not yet handed out, and taking n
// of them: under glibc a reader may look at whole lines in the stream's own
// buffer and copy them in runs; these two are the only places that touch
// the buffer's pointers. Elsewhere nothing is seen as buffered, and readers
// go line by line through append_line. The caller holds the lock.
inline std::string_view buffered(FILE *stream) {
#ifdef __GLIBC__
    const char *at = stream->_IO_read_ptr;
    return {at, static_cast<size_t>(stream->_IO_read_end - at)};
#else
    (void)stream;
    return {};
#endif
}
inline void consume(FILE *stream, size_t n) {
#ifdef __GLIBC__
    stream->_IO_read_ptr += n;
#else
    (void)stream;
    (void)n;
#endif
}

// Appends the next physical line of stream, with its LF if it has one, by
// calls to append(const char *, size_t) (false: memory ran out). The caller
// holds the stream's StreamLock. Under glibc the line is copied straight out
// of the stream's own buffer, once; elsewhere it goes through getline.
enum class Appended { kLine, kEnd, kNoMemory };

template <class Append>
Appended append_line(FILE *stream, Append &&append) {
#ifdef __GLIBC__
    bool any = false;
    for (;;) {
        const std::string_view buf = buffered(stream);
        if (buf.empty()) {
            // getc refills the buffer (or reports the end or an error).
            const int c = getc_unlocked(stream);
            if (c == EOF) return any ? Appended::kLine : Appended::kEnd;
            const char byte = static_cast<char>(c);
            if (!append(&byte, size_t{1})) return Appended::kNoMemory;
            any = true;
            if (byte == '\n') return Appended::kLine;
            continue;
        }
        const auto *lf = static_cast<const char *>(std::memchr(buf.data(), '\n', buf.size()));
        const size_t n = lf ? static_cast<size_t>(lf - buf.data()) + 1 : buf.size();
        if (!append(buf.data(), n)) return Appended::kNoMemory;
        consume(stream, n);
        any = true;
        if (lf) return Appended::kLine;
    }
#else
    char *data = nullptr;
    size_t room = 0;
    const ssize_t got = getline(&data, &room, stream);
    const Appended r = got <= 0 ? Appended::kEnd
                       : append(static_cast<const char *>(data), static_cast<size_t>(got)) ? Appended::kLine
                                                                                          : Appended::kNoMemory;
    std::free(data);
    return r;
#endif
}

// Line ends. The readers take carriage returns off their lines by four
// rules, each one documented by its reader, and callers rely on every one
// (a CR a reader keeps is data to its caller), so they stay apart. Each
// takes the line as read, with its LF if it has one:
//
//   without_lf          file_read_lines: the lines as they stand in the file,
//                       CRs included, so a caller sees exactly what is there.
//   without_crlf        csv_read_record, stream_read_words: the LF and a CR
//                       right before it, the CR LF of a text written on
//                       another system; a CR not followed by a LF (at the
//                       end of the stream) is not a line end and stays.
//   without_lf_then_cr  ldif_read_entry, ldif_next_entry, csv_next_record:
//                       the LF, then one CR whether a LF was there or not,
//                       so the last line of a text cut off after its CR
//                       reads like the others. ldif_next_entry's lines come
//                       without their LF (their folds joined); the file
//                       loaders of LDIF cut their pieces at blank lines
//                       ("\n", "\r\n", or more CRs and a LF).
//   without_any_cr      ldif_parse_line and the conversion to records: every
//                       CR of the logical line, wherever it stands, so a CR
//                       before a fold never reaches a name or a value.
//
// What each rule leaves of the same lines:
//   read         without_lf  without_crlf  without_lf_then_cr  without_any_cr
//   "a\n"        a           a             a                   a
//   "a\r\n"      a\r         a             a                   a
//   "a\rb\n"     a\rb        a\rb          a\rb                ab
//   "a\r\r\n"    a\r\r       a\r           a\r                 a
//   "a\r" (end)  a\r         a\r           a                   a

inline std::string_view without_lf(std::string_view raw) {
    if (!raw.empty() && raw.back() == '\n') raw.remove_suffix(1);
    return raw;
}

inline std::string_view without_crlf(std::string_view raw) {
    if (raw.empty() || raw.back() != '\n') return raw;
    raw.remove_suffix(1);
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    return raw;
}

inline std::string_view without_lf_then_cr(std::string_view raw) {
    raw = without_lf(raw);
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    return raw;
}

// A view of line, or of scratch when there were CRs to take out.
inline std::string_view without_any_cr(std::string_view line, std::string &scratch) {
    if (line.find('\r') == std::string_view::npos) return line;
    scratch.assign(line);
    std::erase(scratch, '\r');
    return scratch;
}

// A line taken as text: it ends at its first NUL byte.
inline std::string_view as_text(std::string_view line) { return line.substr(0, line.find('\0')); }

}  // namespace kestrin::line
