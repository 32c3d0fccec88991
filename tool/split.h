// split - the files of --split: every value into a file of its own,
// PREFIX1, PREFIX2, ... (the number without padding, then the suffix), all
// of them or none.
//
// The values are written to files in a new hidden directory beside the
// names (".kestrin.XXXXXX" in PREFIX's directory: the same file system, so
// that a rename is atomic), and flushed to disk. Only once every value is
// written and on disk do the files take their names, in order, each
// by a rename over the name; a file that was there is first kept aside
// under a second name (a hard link in the hidden directory). The names then
// go to standard output, one a line, and only once they are out are the
// kept files let go and the hidden directory removed.
//
// What is guaranteed: when anything fails (a file that cannot be made or
// written, a link or a rename, the list of names on standard output) the
// run gives back every name it has taken: a file that was there gets its
// old content back (its link renamed back over the name: the same file,
// permission bits, owner and other links), a name that was free is removed,
// and the hidden directory goes; standard output holds no name. Should a
// rename back fail too, the old file stays in the hidden directory rather
// than being lost. A process that is killed leaves the hidden directory
// with what it holds.
//
// A new file gets the permission bits 0666 less the umask; a file replaced
// keeps its permission bits (and, as root, its owner), as with -o. A file
// the user may not write, or a directory, at one of the names makes the run
// fail before any name is taken. A symbolic link at a name is replaced by
// the new file, not followed.
#pragma once

#include <string>

#include "io.h"

namespace kestrin::tool {

class SplitFiles {
public:
    SplitFiles(std::string prefix, std::string suffix);
    // Removes whatever the run has left, unless it was committed.
    ~SplitFiles();
    SplitFiles(const SplitFiles &) = delete;
    SplitFiles &operator=(const SplitFiles &) = delete;

    // The file of the next value; each is false after the message of a
    // failure ("Could no open outfile<%s>\n" with the file's name, "Failed
    // to write output: %s\n").
    bool begin();
    bool write(const char *p, size_t n);
    bool end();  // the file complete (on disk before commit() takes its name)

    // Gives every file its name and writes the names to standard output: 0,
    // or 1 after the message of a failure (every name then given back).
    int commit();

private:
    std::string name(long long n) const;
    std::string kept(long long n, const char *tail = "") const;
    bool fail_open(long long n) const;
    bool fail_write() const;
    bool flush_files() const;
    bool take_name(long long n);
    bool list_names() const;
    void give_back(long long last);

    std::string prefix_, suffix_;
    std::string dir_;   // the hidden directory ("" until the first file)
    long long files_ = 0;
    Fd fd_;             // the file being written
    bool committed_ = false;
};

}  // namespace kestrin::tool
