// The files of --split: see split.h. In the hidden directory the value
// numbered n is the file "n" and a file kept aside from its name is "n.old":
// every name follows from the number, so memory stays the same whatever the
// number of values.
#include "split.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kestrin::tool {

SplitFiles::SplitFiles(std::string prefix, std::string suffix)
    : prefix_(std::move(prefix)), suffix_(std::move(suffix)) {}

SplitFiles::~SplitFiles() {
    if (dir_.empty()) return;
    const int saved = errno;
    fd_ = Fd();
    // Files given back are gone already; a kept file is let go only once
    // its name holds the new one.
    for (long long n = 1; n <= files_; ++n) ::unlink(kept(n, committed_ ? ".old" : "").c_str());
    ::rmdir(dir_.c_str());  // fails, and keeps it, where an old file could not be given back
    errno = saved;
}

std::string SplitFiles::name(long long n) const { return prefix_ + std::to_string(n) + suffix_; }

std::string SplitFiles::kept(long long n, const char *tail) const { return dir_ + "/" + std::to_string(n) + tail; }

bool SplitFiles::fail_open(long long n) const {
    std::fprintf(stderr, "Could no open outfile<%s>\n", name(n).c_str());
    return false;
}

bool SplitFiles::fail_write() const {
    std::fprintf(stderr, "Failed to write output: %s\n", std::strerror(errno));
    return false;
}

bool SplitFiles::begin() {
    const long long n = files_ + 1;
    if (dir_.empty()) {
        std::string dir = directory_of(prefix_) + ".kestrin.XXXXXX";
        if (!::mkdtemp(dir.data())) return fail_open(n);
        dir_ = std::move(dir);
    }
    // What is at the name now decides what the new file must be like.
    struct stat st;
    const bool replaces = ::lstat(name(n).c_str(), &st) == 0;
    if (replaces && (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) &&
                                             ::faccessat(AT_FDCWD, name(n).c_str(), W_OK, AT_EACCESS) != 0)))
        return fail_open(n);
    fd_ = Fd(::open(kept(n).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd_.get() < 0) return fail_open(n);
    files_ = n;
    if (replaces && S_ISREG(st.st_mode)) {
        keep_owner(fd_.get(), st);
        if (::fchmod(fd_.get(), st.st_mode & 07777) != 0) return fail_write();
    }
    return true;
}

bool SplitFiles::write(const char *p, size_t n) { return write_full(fd_.get(), p, n) || fail_write(); }

// The file is complete: its writing back to disk is started, and waited
// for before any name is taken (commit), so that the disk works while the
// next values are decoded.
bool SplitFiles::end() {
    const int fd = fd_.release();
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);  // a hint: fsync below makes sure
    return ::close(fd) == 0 || fail_write();
}

// Every file on disk (opened again by its name: the descriptors are not
// kept, whatever the number of files).
bool SplitFiles::flush_files() const {
    for (long long n = 1; n <= files_; ++n) {
        const Fd file(::open(kept(n).c_str(), O_RDONLY | O_CLOEXEC));
        if (file.get() < 0 || ::fsync(file.get()) != 0) return fail_write();
    }
    return true;
}

// The value numbered n takes its name; a file there is kept aside first.
bool SplitFiles::take_name(long long n) {
    const std::string target = name(n), old = kept(n, ".old");
    struct stat st;
    const bool there = ::lstat(target.c_str(), &st) == 0;
    if (there && ::linkat(AT_FDCWD, target.c_str(), AT_FDCWD, old.c_str(), 0) != 0) return fail_write();
    if (::rename(kept(n).c_str(), target.c_str()) == 0) return true;
    fail_write();
    if (there) ::unlink(old.c_str());  // the name still holds that file
    return false;
}

// Gives back the names of the values numbered 1 to last: the old file
// renamed back, or the name removed where there was none.
void SplitFiles::give_back(long long last) {
    const int saved = errno;
    for (long long n = last; n >= 1; --n) {
        if (::rename(kept(n, ".old").c_str(), name(n).c_str()) == 0) continue;
        if (errno == ENOENT) ::unlink(name(n).c_str());
    }
    errno = saved;
}

// The names, one a line. A reader that has gone makes this fail (EPIPE)
// rather than end the process with the names half taken.
bool SplitFiles::list_names() const {
    struct sigaction ignore {}, before {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &before);
    Output out(STDOUT_FILENO);
    bool written = true;
    for (long long n = 1; written && n <= files_; ++n) {
        const std::string line = name(n) + "\n";
        written = out.put(line.data(), line.size());
    }
    written = written && out.flush();
    ::sigaction(SIGPIPE, &before, nullptr);
    errno = out.error();
    return written;
}

int SplitFiles::commit() {
    if (!flush_files()) return 1;
    for (long long n = 1; n <= files_; ++n) {
        if (take_name(n)) continue;
        give_back(n - 1);
        return 1;
    }
    sync_directory(directory_of(prefix_));
    if (!list_names()) {
        fail_write();
        give_back(files_);
        return 1;
    }
    committed_ = true;
    return 0;
}

}  // namespace kestrin::tool
