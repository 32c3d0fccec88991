// The pieces of the LDIF attribute writer: the name check, the safe-string
// decision, the line head and the folding. ldif_write_attr puts them together
// over a value held in memory; a caller that streams a value too large to hold
// (the command-line tool) feeds the same pieces one part at a time, so both
// write the same bytes by the same rules.
#pragma once

#include <cstddef>
#include <string_view>

namespace kestrin::ldif {

inline constexpr size_t kFirstLine = 77;  // characters before the first fold
inline constexpr size_t kNextLines = 76;  // value characters per continuation line

// A name that would break the line structure or be read back as another name
// (or, beginning with '#', as a comment). The writer refuses such a name (it fails and writes nothing).
bool name_refused(std::string_view name);

// The safe-string decision over a value given piece by piece, in order: true
// from base64() once the value seen so far cannot be written plainly (a
// first character that is a space, ':', '<', tab, vertical tab or form feed,
// a line feed or carriage return, a byte 0x80-0xFF unless high bytes are
// allowed, or a NUL). Once decided, further pieces are
// not looked at.
class SafeScan {
public:
    explicit SafeScan(bool high_bytes_allowed) : high_bytes_allowed_(high_bytes_allowed) {}
    void feed(std::string_view piece);
    bool base64() const { return base64_; }

private:
    bool high_bytes_allowed_;
    bool started_ = false;
    bool base64_ = false;
};

// Where the last option of an attribute description that equals `option`
// (ASCII case ignored) lies: from its ';' to the end of the option; empty
// (begin == end) when there is none. "x;binaryfoo" has no "binary" option.
struct OptionSpan {
    size_t begin = 0, end = 0;
    bool found() const { return end > begin; }
};
OptionSpan last_option(std::string_view name, std::string_view option);
inline bool has_option(std::string_view name, std::string_view option) { return last_option(name, option).found(); }

// How the line begins: the name as printed (name, then name_rest) and the
// marker after it. The name's last "binary" option, or else its last
// "filename" option, is left out of the printed name and sets the marker
// ("::", ":<") whatever form the value takes; every other option stays.
struct LineHead {
    std::string_view name;
    std::string_view name_rest;
    std::string_view marker;
    size_t size() const { return name.size() + name_rest.size() + marker.size(); }
};
LineHead line_head(std::string_view name, bool base64, int mode);

// Characters of the folded line, final line feed included, for an unfolded
// line (name, marker and value text) of `unfolded` characters.
size_t folded_length(size_t unfolded);

// Lays out one line: a line feed and a space go before unfolded column 77 and
// every 76 columns after it. The text may come in any number of pieces.
class Folder {
public:
    // Room that put() needs for the next n characters.
    size_t room(size_t n) const;
    // Copies text to out with its folds; returns the end of what was written.
    char *put(std::string_view text, char *out);

private:
    size_t column_ = 0;
    size_t next_fold_ = kFirstLine;
};

}  // namespace kestrin::ldif
