// decode - the way back (-d): the raw bytes of one value out of LDIF text.
//
// The input (kept as input.h describes) is LDIF text, read with the
// library's streaming reader (ldif_reader_*, ldif/ldif.h), so by the reading
// rules of every reader of the library: folds joined, every CR of a logical
// line dropped, comments passed over, the fill (spaces) after the marker
// skipped, base64 read as base64_decode reads it. The value is that of the
// first attribute line, across any number of entries and before the first
// "dn:" line too, whose attribute description equals the name given, ASCII
// letter case ignored (a line without ':' is all description, with the
// empty value). A plain value is written as it stands, NUL bytes and all, a
// base64 value decoded; a file reference (the URL form, or a plain line
// under a name with the binary option) is refused and never opened.
//
// As for the way there, a run has two steps: prepare() reads the whole input
// and makes every check, write() reads it again and writes the bytes, in
// bounded memory whatever the size of the value (the reader hands a large
// value out in pieces).
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
    //   "Value of <%s> is a file reference: %s\n" (the URL as the reader
    //     gives it, read once more from the input: it is never held whole).
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
