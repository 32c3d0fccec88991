// kestrin -c: see check.h.
#include "check.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "io.h"
#include "ldif/ldif.h"

namespace kestrin::tool {
namespace {

constexpr size_t kPiece = size_t{256} << 10;  // read at a time

struct ReaderFree {
    void operator()(ldif_record_reader *r) const { ldif_record_reader_free(r); }
};

// What the records were.
struct Tally {
    long entries = 0;
    long changes[LDIF_CHANGE_MODRDN + 1] = {};
    long errors = 0;
    long change_records() const { return changes[LDIF_CHANGE_ADD] + changes[LDIF_CHANGE_DELETE] +
                                         changes[LDIF_CHANGE_MODIFY] + changes[LDIF_CHANGE_MODRDN]; }
};

// Reads fd to its end through a record reader, each problem written to out
// as it comes. False when a read failed (errno tells).
bool check_fd(int fd, const char *label, FILE *out, Tally &tally) {
    const std::unique_ptr<ldif_record_reader, ReaderFree> reader(ldif_record_reader_create(0));
    const auto piece = std::make_unique_for_overwrite<char[]>(kPiece);
    if (!reader) throw std::bad_alloc();
    int change = LDIF_CHANGE_NONE;
    for (;;) {
        ldif_record_item item;
        switch (ldif_record_reader_next(reader.get(), &item)) {
            case LDIF_REC_NEED_INPUT: {
                const long n = read_full(fd, piece.get(), kPiece);
                if (n < 0) return false;
                ldif_record_reader_feed(reader.get(), piece.get(), static_cast<size_t>(n));
                break;
            }
            case LDIF_REC_BEGIN: change = item.change; break;
            case LDIF_REC_END:
                if (change == LDIF_CHANGE_NONE) ++tally.entries;
                else ++tally.changes[change];
                break;
            case LDIF_REC_ERROR:
                ++tally.errors;
                std::fprintf(out, "%s:%ld: %s\n", label, item.line, item.value);
                break;
            case LDIF_REC_DONE: return true;
            default: break;
        }
    }
}

int read_failed(const std::string *path) {
    if (path)
        std::fprintf(stderr, "Could not read infile<%s>: %s\n", path->c_str(), std::strerror(errno));
    else
        std::fprintf(stderr, "Could not read standard input: %s\n", std::strerror(errno));
    return 1;
}

}  // namespace

int check_input(const std::string *path) {
    Fd owned(path ? ::open(path->c_str(), O_RDONLY | O_CLOEXEC) : -1);
    if (path && owned.get() < 0) return read_failed(path);
    Tally tally;
    if (!check_fd(path ? owned.get() : STDIN_FILENO, path ? path->c_str() : kStdinLabel, stdout, tally))
        return read_failed(path);
    std::printf("%ld entries, %ld change records (%ld add, %ld delete, %ld modify, %ld modrdn), %ld errors\n",
                tally.entries, tally.change_records(), tally.changes[LDIF_CHANGE_ADD], tally.changes[LDIF_CHANGE_DELETE],
                tally.changes[LDIF_CHANGE_MODIFY], tally.changes[LDIF_CHANGE_MODRDN], tally.errors);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "Failed to write output: %s\n", std::strerror(errno));
        return 1;
    }
    return tally.errors > 0 ? 1 : 0;
}

}  // namespace kestrin::tool
