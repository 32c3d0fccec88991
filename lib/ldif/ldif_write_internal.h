// The pieces of the LDIF attribute writer: the name check, the safe-string
// decision, the line head and the folding. ldif_write_attr puts them together
// over a value held in memory; a caller that streams a value too large to hold
// (the command-line tool) feeds the same pieces one part at a time, so both
// write the same bytes by the same rules.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <string_view>

#include "ldif/ldif.h"

namespace kestrin::ldif {

inline constexpr size_t kDefaultWidth = LDIF_DEFAULT_WIDTH;

// Whether a mode keeps a plain value's UTF-8 sequences whole across folds.
inline bool keeps_utf8(int mode) { return mode == LDIF_ENC_AUTO8 || mode == LDIF_ENC_UTF8; }

// A name that would break the line structure or be read back as another name
// (or, beginning with '#', as a comment). The writer refuses such a name (it fails and writes nothing).
bool name_refused(std::string_view name);

// What a value's bytes 0x80-0xFF may be and still be written plain.
enum class HighBytes { kUnsafe, kAllowed, kUtf8 };

// The safe-string decision over a value given piece by piece, in order: true
// from base64() once the value seen so far cannot be written plainly (a
// first character that is a space, ':', '<', tab, vertical tab or form feed,
// a line feed or carriage return, a NUL, or a byte 0x80-0xFF that is
// unsafe: always, never, or unless it is part of well-formed UTF-8). Once
// decided, further pieces are not looked at. finish() after the last piece
// (a UTF-8 sequence still open there is truncated, and a last character
// that is a space makes the value unsafe).
class SafeScan {
public:
    explicit SafeScan(HighBytes high) : high_(high) {}
    void feed(std::string_view piece);
    void finish();
    bool base64() const { return base64_; }

private:
    void feed_utf8(const unsigned char *p, size_t n);
    HighBytes high_;
    bool started_ = false;
    bool base64_ = false;
    char last_ = 0;  // the last character seen
    unsigned utf8_state_ = 0;  // of the UTF-8 check, carried from piece to piece
};

// Two texts equal, ASCII letter case ignored (no locale: every other byte
// is compared as it is).
inline bool same_ignoring_case(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c | 0x20) : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

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
// line of `unfolded` characters whose head (name and marker) takes `head` of
// them, and that no UTF-8 rule moves a fold in.
size_t folded_length(size_t unfolded, size_t head, size_t width);

// Lays out one line: the first physical line holds `width` characters, each
// continuation a space and width - 1 more; width 0 never folds. A fold is
// made only when more text follows. The first physical line never ends
// before the head (the first `head` characters: name and marker) and the
// value's first character: readers take a fold there for a broken name.
// The text may come in any number of pieces. With keep_utf8 the value's
// well-formed UTF-8 sequences are never cut: a fold that would fall inside
// one moves back to its start, and one that begins a continuation line and
// is longer than the line's room stays whole there (that line is longer
// than the width by up to 3); a sequence cut between two pieces is held
// back until it is whole, and finish() puts what is held.
class Folder {
public:
    Folder(size_t width, size_t head)
        : width_(width), next_fold_(width == 0 ? 0 : std::max(width, head + 1)), head_(head) {}
    // At least the room that put() needs for the next n characters (and
    // finish() after them).
    size_t most_room(size_t n) const;
    // The most characters whose put() fits in `room` (0: none fits).
    size_t fits(size_t room) const;
    // Copies text to out with its folds; returns the end of what was written.
    char *put(std::string_view text, char *out, bool keep_utf8 = false);
    // Puts what a keep_utf8 put() holds back.
    char *finish(char *out);
    // The characters that put() and finish() would write for text.
    size_t measure(std::string_view text, bool keep_utf8 = false);
    size_t measure_finish();

private:
    template <class Out>
    void lay(std::string_view text, bool keep_utf8, Out &out);
    template <class Out>
    void lay_held(std::string_view text, bool keep_utf8, Out &out);
    size_t utf8_cut(std::string_view text, size_t n) const;

    size_t width_;
    size_t column_ = 0;      // unfolded characters laid out
    size_t next_fold_;       // unfolded column of the next fold
    size_t head_;            // unfolded column where the value begins
    size_t line_start_ = 0;  // unfolded column where this physical line's text starts
    unsigned char held_[4] = {};
    size_t held_n_ = 0;
};

// A line in parts, for writers whose line is more than a name and one value
// (the record writer prints names with all their options and builds control
// lines): each part is text laid out as it stands, or bytes written as their
// base64 text; keep_utf8 marks a plain part whose UTF-8 sequences no fold
// cuts (a line holding such a part holds no base64 part). The first `head`
// characters (the name and the marker) are the head of the folding rule.
struct LinePart {
    std::string_view bytes;
    bool base64 = false;
    bool keep_utf8 = false;
};
// Appends the line, folded at width, its line feed and a NUL to the buffer
// as ldif_write_attr does, with the same buffer and count rules and the same
// failures (EOVERFLOW; the base64 working buffer or the encoder failing
// frees the caller's buffer, a buffer that cannot grow is left as it was).
char *append_line(char *buffer, int *count, std::span<const LinePart> parts, size_t head, size_t width);

// Whether exactly these bytes (NUL bytes included, which are unsafe) are
// written in base64 in mode: always in LDIF_ENC_BASE64, else as SafeScan
// decides for the mode's high bytes.
bool needs_base64(std::string_view bytes, int mode);

}  // namespace kestrin::ldif
