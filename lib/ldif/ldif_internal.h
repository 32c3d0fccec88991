// How LDIF is read: the reading rules, which every reader of the library
// (the readers over a NUL-terminated text here, the streaming reader of
// ldif_reader.cpp) and so the tool's -d apply, and the line reader behind
// ldif_parse_line, the conversion to records and the entry queries. The
// line reader hands out views, so a walk over a large text copies only
// lines that need assembling (folds, carriage returns) and decoded or
// referenced values.
#pragma once

#include <string>
#include <string_view>

#include "ldif/ldif_write_internal.h"

namespace kestrin::ldif {

// ---- the reading rules ------------------------------------------------------
//
// A physical line ends at its LF. A logical line is a physical line and the
// ones that continue it: a physical line that begins with a space continues
// the logical line before it when that line has text (a byte other than
// CR), and that LF and that one space are taken out (a fold); a blank line
// (no text: empty, or CRs only) is never continued.
// Inside a logical line every CR is dropped, wherever it stands: a CR is no
// character of LDIF text, so only malformed text holds one. What remains:
//   empty                  a blank line (it ends an entry)
//   '#' first              a comment
//   name ':' rest          an attribute line; the name (the attribute
//                          description) is all before the first ':'
//   no ':'                 the whole line is the name, the value empty
// After the ':', a second ':' marks base64, '<' a URL (a file reference),
// anything else a plain value; the fill after the marker (every space,
// nothing else) is skipped, and all that follows is the value. A base64
// value is read as base64_decode reads it (white space skipped, a NUL
// malformed); a non-empty base64 text that decodes to no bytes is
// malformed. A plain line whose name has the binary option (an option equal
// to "binary", ASCII case ignored: the writer's test) is a file reference.
// The "dn" line (its name "dn" in any letter case) starts an entry.

// Whether a physical line that begins with `first` continues a logical line
// that has text so far.
inline bool continues(bool has_text, char first) { return has_text && first == ' '; }

// The byte every reader drops from a logical line.
inline bool dropped(char c) { return c == '\r'; }

inline bool is_comment_start(char c) { return c == '#'; }
inline bool is_fill(char c) { return c == ' '; }

enum class Form { kPlain, kBase64, kUrl };

// The form that the byte after the name's ':' marks; `marked` tells whether
// that byte is the marker (and so not yet part of the fill or value).
inline Form marker_form(char after_colon, bool &marked) {
    marked = after_colon == ':' || after_colon == '<';
    return after_colon == ':' ? Form::kBase64 : after_colon == '<' ? Form::kUrl : Form::kPlain;
}

// The form of a line: a plain line under a name with the binary option is a
// file reference.
// `options`: whether the name holds a ';' (a reader that has looked already
// says so).
inline Form line_form(Form marked, std::string_view name, bool options) {
    if (marked != Form::kPlain) return marked;
    return options && has_option(name, "binary") ? Form::kUrl : marked;
}
inline Form line_form(Form marked, std::string_view name) {
    if (marked != Form::kPlain) return marked;
    bool options = false;  // a loop: names are short, and most have none
    for (const char c : name) options |= c == ';';
    return line_form(marked, name, options);
}

// Whether a name (CRs already dropped) is that of the dn line.
inline bool is_dn_name(std::string_view name) {
    return name.size() == 2 && (name[0] | 0x20) == 'd' && (name[1] | 0x20) == 'n';
}

// Where one logical line lies: from begin to end (the LF or NUL that ends
// it), with folds ("\n ") inside when `has_folds`; next is the cursor after
// it.
struct Extent {
    const char *begin;
    const char *end;
    const char *next;
    bool has_folds;
};
Extent logical_line(const char *cursor);

// Copies the logical line e to dst without its folds (each LF and the space
// after it); dst has room for e.end - e.begin bytes. Returns the length.
size_t copy_unfolded(const Extent &e, char *dst);

// Whether [begin, end) holds nothing but CRs: no text (see above), so such
// a line is a blank line: it ends an entry and is never continued.
inline bool only_crs(const char *begin, const char *end) {
    for (; begin < end; ++begin)
        if (!dropped(*begin)) return false;
    return true;
}
inline bool is_blank(const Extent &e) { return !e.has_folds && only_crs(e.begin, e.end); }

// Where the value text begins after the marker at pos: the fill (any number
// of spaces, none included) is skipped, and nothing else is; a tab is a
// value character.
inline size_t skip_fill(std::string_view line, size_t pos) {
    while (pos < line.size() && is_fill(line[pos])) ++pos;
    return pos;
}

struct Line {
    std::string_view name;
    std::string_view value;  // text of a plain line, else bytes (may hold NULs)
    bool binary = false;
    // With Workspace::keep_base64: the value's base64 text as written, when
    // it is exactly the encoding of the bytes (value is then not decoded).
    std::string_view base64;
};

// Reused storage of a walk: the line with its folds joined, the line
// without its CRs, decoded or file bytes.
struct Workspace {
    std::string joined;
    std::string line;
    std::string value;
    // Whether a base64 value written in its one canonical form is handed
    // over as its text (Line::base64) instead of decoded: converting to
    // records stores that very text, so decoding and encoding it again
    // would only give it back.
    bool keep_base64 = false;
    // Whether the text may hold a CR; false lets a walk over a text known
    // to hold none skip looking for CRs line by line.
    bool may_hold_cr = true;
};

enum class Parsed { kLine, kEnd, kFailed };

// Parses the logical line at cursor. The views point into the text or into
// ws and stay valid until the next call with the same workspace. On kLine
// *next is the cursor after the line. kEnd: null cursor or at the NUL.
// kFailed: a base64 value that is malformed or decodes to nothing from a
// non-empty text, or no memory.
Parsed parse_line(const char *cursor, Workspace &ws, Line &line, const char **next);
// The same for a line already found with logical_line.
Parsed parse_extent(const Extent &extent, Workspace &ws, Line &line);
// The same for a logical line whose folds are already joined (CRs may remain).
Parsed parse_joined(std::string_view line, Workspace &ws, Line &out);

// Entry structure, as ldif_next_entry sees lines: the logical line with its
// folds joined and one CR before its end removed (a view into the text, or
// into scratch when it was folded); and whether it starts an entry (its
// name, CRs dropped, is_dn_name).
std::string_view entry_line(const Extent &extent, std::string &scratch);
bool is_dn_line(std::string_view line);

// Walks one entry as ldif_next_entry cuts it: lines before the first dn:
// line are skipped, and from that line on each line (as entry_line gives it)
// goes to on_line(line) until a blank line (consumed; see is_blank) or the
// end of the text.
// Returns the cursor after what was consumed; `started` tells whether an
// entry was met (false when a blank line came first or the text ended).
template <class OnLine>
const char *walk_entry(const char *cursor, std::string &scratch, bool &started, OnLine on_line) {
    started = false;
    while (*cursor) {
        const Extent e = logical_line(cursor);
        cursor = e.next;
        if (is_blank(e)) break;
        const std::string_view line = entry_line(e, scratch);
        if (!started && !is_dn_line(line)) continue;
        started = true;
        on_line(line);
    }
    return cursor;
}

// ---- the streaming reader under the record reader ---------------------------

// The value buffer of a reader created with buffer_size (0: the default).
size_t reader_room(size_t buffer_size);
// A streaming reader (NULL when memory runs out). With `groups`, every line
// with text, not only a dn line, opens an entry that the next blank line
// closes: the record reader sees where a run of lines without a dn ends.
ldif_reader *create_reader(size_t buffer_size, bool groups);
// Whether the line of the reader's last LDIF_ATTR item had a ':' (a line
// without one is all name, with an empty value).
bool had_colon(const ldif_reader &reader);

}  // namespace kestrin::ldif
