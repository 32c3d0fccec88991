// decode - the way back (-d): the raw bytes of values out of LDIF text.
//
// The input (kept as input.h describes) is LDIF text, read with the
// library's streaming reader (ldif_reader_*, ldif/ldif.h), so by the reading
// rules of every reader of the library: folds joined, every CR of a logical
// line dropped, comments passed over, the fill (spaces) after the marker
// skipped, base64 read as base64_decode reads it. The values are those of
// the attribute lines whose attribute description equals the name given,
// ASCII letter case ignored (a line without ':' is all description, with
// the empty value): across any number of entries and before the first "dn:"
// line too, or, with a dn, only those of the entries whose dn is that one
// (dn.h; the entry's own dn line included). A plain value is written as it
// stands, NUL bytes and all, a base64 value decoded; a file reference (the
// URL form, or a plain line under a name with the binary option) is
// refused and never opened.
//
// Which of them are written (Selection::Values):
//   kFirst  the first, as it is; when there are more, write() says so on
//           standard error after writing it:
//           "kestrin: %d more values of <%s> in the input (see --all)\n";
//   kAll    every one in input order, each followed by the terminator (a
//           line feed, or a NUL byte); a value that holds the terminator
//           is refused, since its end could not be told from the next;
//   kSplit  every one in input order into a file of its own (split.h).
//
// As for the way there, a run has two steps: prepare() reads the whole input
// and makes every check, write() reads it again and writes the bytes, in
// bounded memory whatever the size or the number of the values (the reader
// hands a large value out in pieces). Nothing is written when a check fails.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "input.h"
#include "io.h"

namespace kestrin::tool {

class SplitFiles;

struct Selection {
    std::string attr;
    std::optional<std::string> dn;  // only the entries with this dn
    enum class Values { kFirst, kAll, kSplit };
    Values values = Values::kFirst;
    char terminator = '\n';  // after each value, with kAll
};

class LdifValue {
public:
    LdifValue();
    ~LdifValue();
    LdifValue(const LdifValue &) = delete;
    LdifValue &operator=(const LdifValue &) = delete;

    // Returned by prepare() and write_files() when a read of the input
    // failed (errno tells why, EIO for an input that changed since
    // prepare()); the caller writes the message that names the input.
    static constexpr int kReadFailed = -1;

    // Finds and checks the values to write (the input read to its end, a
    // shared offset of standard input left after it). 0 when they can be
    // written; kReadFailed; or the exit status (1) after the message of the
    // first failed check, for the first value that fails it:
    //   "No entry <%s> in the input\n" (the dn as given: no entry has it),
    //   "No value of <%s> in the input\n" (attr as given; also for an empty
    //     input, and for an entry of that dn without the attribute),
    //   "Failed to base64-decode value of <%s>\n",
    //   "Value of <%s> is a file reference: %s\n" (the URL as the reader
    //     gives it, read once more from the input: it is never held whole),
    //   "Value %d of <%s> holds the separator: use --split\n" (kAll; the
    //     values counted from 1 among those the run writes).
    // kFirst checks the first value only, the others every value.
    int prepare(Input &input, const Selection &selection);
    int prepare(Input &input, const std::string &attr) { return prepare(input, Selection{attr, std::nullopt}); }

    // Bytes of the values to write (after prepare()).
    size_t size() const;

    // kFirst, kAll: writes the values' bytes to fd (after prepare()).
    // kInputFailed when the input changed since prepare() or could not be
    // read (errno tells, EIO for a change; the caller writes the message);
    // kOutputFailed when a write failed (errno tells).
    Written write(Input &input, int fd);

    // kSplit: writes each value into the next file of `files` and, when
    // every one is written, gives the files their names (after prepare()).
    // 0, kReadFailed, or the exit status (1) after the message of a
    // failure to write the files.
    int write_files(Input &input, SplitFiles &files);

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
    // Every value of the selection, in input order (the bytes of each
    // value, a file reference's URL), as kAll and kSplit write them.
    std::vector<std::string> values;
    // Whether the second reading found the text the first one checked (it
    // always should: the text does not change in between).
    bool second_pass_same = true;
};
DecodedText decode_ldif_text(std::string_view text, const Selection &selection, size_t piece);
inline DecodedText decode_ldif_text(std::string_view text, std::string_view attr, size_t piece) {
    return decode_ldif_text(text, Selection{std::string(attr), std::nullopt}, piece);
}

}  // namespace kestrin::tool
