// Reading a stream one physical line at a time, of any length: the one line
// reader behind csv_read_record, stream_read_words and ldif_read_entry.
#pragma once

#include <cstdio>
#include <cstdlib>
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

// The line without its line feed and one carriage return before it; a last
// line without a line feed keeps a trailing carriage return. Empty exactly
// for a blank line ("\n" or "\r\n").
inline std::string_view without_line_end(std::string_view raw) {
    if (raw.empty() || raw.back() != '\n') return raw;
    raw.remove_suffix(1);
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    return raw;
}

// A line taken as text: it ends at its first NUL byte.
inline std::string_view as_text(std::string_view line) { return line.substr(0, line.find('\0')); }

}  // namespace kestrin::line
