// Helpers shared by the test files: temporary directories, files and bytes,
// owners for the library's records, sets and string lists, and texts that
// several tests compare against.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ekva/ekva.h"
#include "ekva/strlist.h"

namespace testutil {

using V = std::vector<std::string>;

// Whether the build runs under AddressSanitizer. Its heaviest end-to-end
// cases then run fewer variants of each check (every boundary is still
// crossed, every path still taken across the suite); the plain build runs
// them all.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

// Of n variants of a check, the ones a run takes: all of them, or under
// the sanitizers one, in turn (a counter per caller), so that over a suite's
// many checks each variant still comes up.
inline std::vector<size_t> variants(size_t n, size_t &turn) {
    if (!kSanitized || n == 0) {
        std::vector<size_t> all(n);
        for (size_t i = 0; i < n; ++i) all[i] = i;
        return all;
    }
    return {turn++ % n};
}

// ---- files ----------------------------------------------------------------

// A fresh directory (mkdtemp under the temporary directory), removed with
// everything in it when the owner goes, unreadable subdirectories included.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

// The bytes of a file ("" when it cannot be read).
std::string read_file(const std::string &path);
// Writes the bytes as the whole file.
void write_file(const std::string &path, const std::string &bytes);
// Makes the file `size` bytes of zeros with no disk behind them (sparse);
// false when it cannot.
bool write_sparse_file(const std::string &path, long long size);
// The bytes this process has read (rchar of /proc/self/io), those of the
// children it has waited for included; -1 when that cannot be read.
long bytes_read_by_process();

// A test that runs in a directory of its own: `dir`.
class TempDirTest : public testing::Test {
protected:
    TempDir temp_;
    const std::string dir = temp_.path();

    // Writes a file named `name` in the directory and returns its path.
    std::string file(const std::string &name, const std::string &bytes) const {
        const std::string path = dir + "/" + name;
        write_file(path, bytes);
        return path;
    }
};

// A temporary file holding the text, open for reading from its start,
// closed on scope exit.
struct Stream {
    FILE *file;
    explicit Stream(const std::string &text);
    ~Stream();
    Stream(const Stream &) = delete;
    Stream &operator=(const Stream &) = delete;
};

// A test that reads a stream: open(bytes) gives `stream` over those bytes.
class StreamTest : public testing::Test {
protected:
    FILE *stream = nullptr;
    void open(const std::string &bytes) {
        owner_ = std::make_unique<Stream>(bytes);
        stream = owner_->file;
    }

private:
    std::unique_ptr<Stream> owner_;
};

// ---- the built tool ---------------------------------------------------------

// Where the tool spools a stream: $TMPDIR, or /tmp when that is unset or
// empty.
std::string spool_dir();
// The names of the tool's spool files there (they must not outlive a run).
std::set<std::string> spool_files();
// The spool files there now that were not there `before`, once none is left
// or after two seconds. A run of another test or program holds a named
// spool file for a moment (between creating and removing the name), which
// must not count as left behind; nor may one that was there before and has
// gone since.
std::set<std::string> spool_files_left(const std::set<std::string> &before);

// The spool file in dir that process pid holds open, as its descriptor
// names it (ending in " (deleted)" once the name is gone); "" when it holds
// none.
std::string held_spool(pid_t pid, const std::string &dir = spool_dir());
// held_spool once the name shows as removed, or when the process has ended,
// or after a minute. The name exists for a moment between its creation and
// its removal; a slow start on a loaded machine only makes the wait longer.
std::string removed_spool(pid_t pid, const std::string &dir = spool_dir());

// A text as one word of a shell command.
std::string shell_quote(const std::string &s);

// What a run left on standard output and error, and its exit status (-1
// when it did not exit).
struct Outcome {
    std::string out, err;
    int status;
};

// Runs a bash command whose standard output and error go to the files out
// and err, and reads them back.
Outcome run_bash(const std::string &command, const std::string &out, const std::string &err);

// A temporary directory for the runs of the tool, and at the end the check
// that no run left a spool file behind.
class ToolTest : public TempDirTest {
protected:
    std::set<std::string> spool_before = spool_files();
    void TearDown() override;
    // Runs a bash command line in which $K is the tool `bin`, standard
    // input from `input` (none: /dev/null), and collects standard output
    // and error.
    Outcome sh_with(const std::string &bin, const std::string &line, const std::string *input = nullptr) const;
};

// ---- bytes and texts ------------------------------------------------------

// n pseudo-random bytes, the same for the same seed.
std::string random_bytes(size_t n, unsigned seed);
// The base64 text of the bytes, as base64_encode writes it.
std::string base64_text(const std::string &bytes);

// The text of a malloc'd string, which is freed; "(null)" for NULL.
std::string take(char *text);

// Joins folded physical lines ("\n" followed by a space) back into logical lines.
std::string unfold(const std::string &text);

// The tool's usage text after "Usage: <program>".
inline constexpr char kUsageBody[] =
    " [options]\n\n"
    "  --help,\t-h\t\t\tDisplays this information\n"
    "  --b64_read,\t-b\t\t\tbase64 decode input\n"
    "  --b64_write,\t-B\t\t\tbase64 encode output\n"
    "  --b64_guess,\t-G\t\t\tbase64 encode on demand\n"
    "  --string,\t-s <args>\t\tInput String (if omitted, stdin)\n"
    "  --infile,\t-i <args>\t\tInput File (if ommitted, stdin)\n"
    "  --out,\t-o <args>\t\tOutputfile instead of stdout\n"
    "  --attr,\t-a <args>\t\tAttribute name\n"
    "  --version,\t-V\t\t\tShow version information\n"
    "  --wrap,\t-w <args>\t\tfold lines at <args> characters (0: never)\n"
    "  --utf8,\t-u\t\t\twrite UTF-8 text as it is\n"
    "  --strip-newline,\t-n\t\t\tdrop one newline at the end of input\n"
    "  --decode,\t-d\t\t\tLDIF input: write the value of the attribute\n"
    "  --dn <args>\t\t\twith -d: only the entry of this dn\n"
    "  --all\t\t\twith -d: every value, each on a line of its own\n"
    "  --null,\t-0\t\t\twith --all: end each value with a NUL byte\n"
    "  --split <args>\t\t\twith -d: every value into a file <args>1, <args>2, ...\n"
    "  --split-suffix <args>\t\t\twith --split: put <args> after the number\n"
    "  --check,\t-c\t\t\tcheck the LDIF records of FILE (else stdin)\n";

// ---- records, sets and string lists ---------------------------------------

// Owns a record (ekva_free at the end of the scope).
struct Record {
    ekva_pair **r;
    explicit Record(ekva_pair **record) : r(record) {}
    ~Record() { ekva_free(r); }
    Record(const Record &) = delete;
    Record &operator=(const Record &) = delete;
    std::string header() const { return r && r[0] ? r[0]->key : "(none)"; }
    int add(const char *key, const char *value, int mode) { return ekva_add(&r, key, value, mode); }
};

// A record's entries after its header as "key=value" (value "(null)" when absent).
V entries(ekva_pair **record);
// The same for every slot from slot 0 (an array made by hand, say).
V slots(ekva_pair **record);

// Owns a record set; push stores copies as ekva_set_push does.
struct Set {
    ekva_pair ***s = nullptr;
    int count = 0, capacity = 2;
    Set() = default;
    ~Set() { ekva_set_free(s); }
    Set(const Set &) = delete;
    Set &operator=(const Set &) = delete;
    // Pushes a copy of the record and frees the record.
    void push(ekva_pair **record);
    // The value of `key` in each record, `absent` when it has none.
    V column(const char *key, const char *absent = "none") const;
};

// Owns a string list (strlist_free at the end of the scope).
struct ListPtr {
    char **p;
    explicit ListPtr(char **list) : p(list) {}
    ~ListPtr() { strlist_free(p); }
    ListPtr(const ListPtr &) = delete;
    ListPtr &operator=(const ListPtr &) = delete;
};

// A new string list (free with strlist_free) holding the texts.
char **make_list(const V &texts);

V to_vector(char **list);

// The adjacent-swap sort that strlist_sort and the set sort must agree with.
template <class T, class Less>
void bubble_sort(std::vector<T> &v, Less swap_when) {
    for (size_t p = 1; p < v.size(); ++p)
        for (size_t j = 0; j + p < v.size(); ++j)
            if (swap_when(v[j], v[j + 1])) std::swap(v[j], v[j + 1]);
}

// A writer that comes to a FIFO late: from a thread of its own it waits a
// moment (time for the reader to open the FIFO and find it without a
// writer; on a loaded machine the writer may come early, and the reader
// must be right then too), opens the FIFO, writes each burst with a pause before it, and closes it.
// It opens without waiting, again and again while no reader has the FIFO
// open, and gives up once the reader is done or after ten seconds, so that
// a reader that came back early leaves no writer blocked for ever.
class LateWriter {
public:
    LateWriter(std::string path, std::vector<std::string> bursts);
    ~LateWriter() { finish(); }
    LateWriter(const LateWriter &) = delete;
    LateWriter &operator=(const LateWriter &) = delete;
    // The reader is done: waits for the writer to give up or to end.
    void finish();
    // Whether the writer opened the FIFO and wrote every burst.
    bool wrote_all() const { return wrote_all_; }

private:
    void run();

    const std::string path_;
    const std::vector<std::string> bursts_;
    std::atomic<bool> done_{false}, wrote_all_{false};
    std::thread thread_;  // last: it starts once the members above are set
};

// For SIGALRM in a test that reads a FIFO: a reader that never comes back
// would hang the run, so the test fails instead.
void fifo_reader_hung(int);

}  // namespace testutil
