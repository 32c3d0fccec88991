// decode - the way back (-d): the raw bytes of one value out of LDIF text.
//
// The input (kept as input.h describes) is LDIF text. The value is that of
// the first line, across any number of entries, whose attribute description
// equals the name given, ASCII letter case ignored: folded lines are joined,
// a CR before a line feed is dropped, comments and "version:" lines are
// passed over, the fill (spaces) after the marker is skipped. A plain value
// is written as it stands, a base64 value decoded; a file reference is
// refused and never opened.
//
// How the text is read, exactly:
//   - Physical lines end at each LF. A CR right before a LF is dropped (also
//     before the LF of a fold); any other CR is a byte of the line, also a
//     CR at the very end of the input with no LF after it.
//   - A physical line that begins with a space continues the logical line
//     before it when that line is not empty: the LF and the one space go,
//     so a name, a marker, the fill or a value may be folded anywhere. An
//     empty line is never continued (the first line of the input neither).
//   - A logical line that begins with '#' is a comment. The attribute
//     description of any other line is all that comes before its first ':';
//     a line without ':' (the "-" of a change record, say) has none. A
//     "version: 1" line is a line like the others, described "version".
//     Lines before the first "dn:" are searched as well.
//   - After the description, "::" marks base64, ":<" a file reference
//     (the URL), a lone ':' a plain value; every space that follows is the
//     fill, and nothing else is (a tab is a byte of the value).
//   - A plain value is the rest of the logical line, trailing spaces, NUL
//     bytes and all; a name with the binary option changes nothing (the
//     library's readers take such a plain line for a file name: here no
//     file is ever opened). An empty value is zero bytes, in every form.
//   - A base64 value is its text with the folds joined and the CRs before
//     LFs dropped; that text must be base64 as base64_decode reads it,
//     padding and zero bits included, but with no white space left in it
//     at all (RFC 2849 allows none, and no writer folds any other way): a
//     space, tab, CR, VT or FF inside is malformed, and so is a NUL.
//
// As for the way there, a run has two steps: prepare() reads the whole input
// and makes every check, write() reads it again and writes the bytes, in
// bounded memory whatever the size of the value. The first step notes where
// the value's text lies in the input; the second reads only that part.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "input.h"
#include "io.h"

namespace kestrin::tool {

class LdifValue {
public:
    LdifValue();
    ~LdifValue();
    LdifValue(const LdifValue &) = delete;
    LdifValue &operator=(const LdifValue &) = delete;

    // Returned by prepare() when a read of the input failed (errno tells
    // why); the caller writes the message that names the input.
    static constexpr int kReadFailed = -1;

    // Finds and checks the value of attr in the input (read to its end, a
    // shared offset of standard input left after it). 0 when it can be
    // written; kReadFailed; or the exit status (1) after the message of the
    // failed check:
    //   "No value of <%s> in the input\n" (attr as given; also for an empty
    //     input),
    //   "Failed to base64-decode value of <%s>\n",
    //   "Value of <%s> is a file reference: %s\n" (the URL, folds joined,
    //     read once more from the input: it is never held whole).
    int prepare(Input &input, const std::string &attr);

    // Bytes of the value (after prepare()).
    size_t size() const;

    // Writes the value's bytes to fd (after prepare()). kInputFailed when
    // the input changed since prepare() or could not be read (errno tells,
    // EIO for a change; the caller writes the message); kOutputFailed when
    // a write failed (errno tells).
    Written write(Input &input, int fd);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The way back over a text in memory, handed to the same reader in pieces
// of `piece` bytes (0 counts as 1) as the input's passes hand them over:
// what a run would write, or why it would not. For tests and the fuzz
// target.
struct DecodedText {
    enum class Kind { kValue, kNoValue, kMalformed, kFileReference };
    Kind kind = Kind::kNoValue;
    std::string bytes;  // kValue: the value; kFileReference: the URL
    // Whether the second reading found the text the first one checked (it
    // always should: the text does not change in between).
    bool second_pass_same = true;
};
DecodedText decode_ldif_text(std::string_view text, std::string_view attr, size_t piece);

}  // namespace kestrin::tool
