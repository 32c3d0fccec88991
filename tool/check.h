// check - kestrin -c (--check): LDIF records read with the library's record
// reader (ldif_record_reader_*, ldif/ldif.h) and checked, before they reach
// a server.
//
// The input is a file named on the command line, or standard input; it is
// read once, in pieces, in bounded memory whatever its size, and no file
// that a line of it names (":<") is ever opened. For each malformed record
// one line goes to standard output, as compilers write theirs, so that an
// editor can jump to it:
//   FILE:LINE: message
// (FILE as given on the command line, "<stdin>" for standard input; the
// messages are the reader's, see ldif.h), and after the last one the
// summary
//   N entries, M change records (a add, d delete, m modify, r modrdn), K errors
// counting the records read whole (a malformed one counts only as an error).
#pragma once

#include <string>

namespace kestrin::tool {

// The name of standard input in the lines of a check.
inline constexpr char kStdinLabel[] = "<stdin>";

// Checks the input: path, or standard input when null. Returns the exit
// status: 0 when no record is malformed, 1 when one is, or after the
// message of a failure ("Could not read infile<%s>: %s" or "Could not read
// standard input: %s", "Failed to write output: %s", on standard error).
int check_input(const std::string *path);

}  // namespace kestrin::tool
