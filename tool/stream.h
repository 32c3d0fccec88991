/*
 * stream - the tool's run from its input to the LDIF line, in bounded memory
 * whatever the size of the value.
 *
 * A run has two steps. prepare() reads the whole input and makes every check
 * that can fail (the input read to its end, the 2 GiB limit, base64 validity
 * with decoding, the attribute name, the size of the line) and writes the
 * message of the first that fails; an input whose size alone puts the line
 * past the limit is refused before it is read. Only then does write()
 * produce the line, reading the input once more. Nothing is written unless
 * prepare() succeeded.
 *
 * The input is kept as input.h describes (a file in place, a short stream in
 * memory, a long one spooled) and read in pieces at each step; a file that
 * changes between the steps is an error ("Input/output error"), never a
 * different value.
 *
 * The line is the one ldif_write_attr writes for the whole value, except that
 * the name is printed as given, options and all (the writer leaves a
 * ";binary" option out): the writer's own name check, safe-string decision
 * and folding do the work.
 */
#ifndef KESTRIN_TOOL_STREAM_H
#define KESTRIN_TOOL_STREAM_H

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "decode.h"
#include "io.h"
#include "ldif/ldif.h"

namespace kestrin::tool {

enum class Source { kString, kFile, kStdin };

// Whether the writer refuses attr as an attribute description (a colon, a
// line break, a leading space or '#'): the driver refuses it on the command
// line, before any input is read.
bool attr_refused(std::string_view attr);

struct Request {
    std::string attr;
    bool decode = false;  // the input is base64 text to decode first
    // Write the value in base64 whatever it holds; a name with the binary
    // option ("userCertificate;binary", any letter case) asks for that too.
    bool base64 = false;
    int wrap = LDIF_DEFAULT_WIDTH;  // fold width (0: never fold)
    bool utf8 = false;           // well-formed UTF-8 text stays plain
    bool strip_newline = false;  // drop one LF or CR LF at the end of the input first
    // The input is LDIF text: write the raw bytes of the first value of attr
    // (the way back; the options above do not apply), or of the values that
    // the fields below ask for (decode.h).
    bool ldif_decode = false;
    std::optional<std::string> dn;             // only the entries with this dn
    Selection::Values values = Selection::Values::kFirst;
    char terminator = '\n';                    // after each value, for kAll
    std::string split_prefix, split_suffix;    // the files' names, for kSplit
    Source source = Source::kStdin;
    std::string string;  // the value, for kString
    std::string path;    // the file, for kFile
};

class Stream {
public:
    Stream();
    ~Stream();
    Stream(const Stream &) = delete;
    Stream &operator=(const Stream &) = delete;

    // Reads and checks. 0 when the line can be written; otherwise the exit
    // status, after the message of the failed check (none for empty input).
    int prepare(const Request &request);

    // Characters of the line that write() produces (after prepare()).
    size_t size() const;

    // Makes sure that writing to fd cannot change the input: when fd is the
    // very file the input is read from, the input is first copied to a
    // temporary file (as a long stream is). Call it before truncating such
    // a file; write() calls it too. false after the message of a failure.
    bool detach(int fd);

    // Writes the line to fd. kInputFailed: the input changed since prepare()
    // or could not be kept apart from fd (its message has been written);
    // kOutputFailed: a write failed, errno tells why.
    Written write(int fd);

    // The way back with kSplit: writes the files (split.h) and their names.
    // 0, or the exit status after the message of the failure.
    int write_files();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kestrin::tool

#endif
