// kestrin: turns one attribute value into one LDIF attribute line.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "check.h"
#include "options.h"
#include "stream.h"
#include "version.h"

namespace {

namespace tool = kestrin::tool;

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
using Bytes = std::unique_ptr<char, FreeDeleter>;

// "-" as the value of -i or -o: standard input or standard output.
constexpr std::string_view kStdStream = "-";

// An option as first written, and where it came among the options (0: not
// given).
struct Given {
    std::string written;
    int at = 0;
    bool given() const { return at > 0; }
};

// Every option's first appearance on the command line, which the checks of
// options that go together, or do not, name.
class FirstGiven {
public:
    void note(int code) {
        ++options_;
        if (code > 0 && code < kCodes && !(*this)[code].given()) slot(code) = {opt_written(), options_};
    }
    const Given &operator[](int code) const { return given_[static_cast<size_t>(code)]; }

    // The earliest given of the codes (null: none of them).
    const Given *earliest(std::initializer_list<int> codes) const {
        const Given *first = nullptr;
        for (const int code : codes) first = earlier(first, code);
        return first;
    }
    // The earliest given of every option but the codes.
    const Given *earliest_but(std::initializer_list<int> codes) const {
        const Given *first = nullptr;
        for (int code = 1; code < kCodes; ++code)
            if (std::find(codes.begin(), codes.end(), code) == codes.end()) first = earlier(first, code);
        return first;
    }

private:
    static constexpr int kCodes = OPT_CHECK + 1;  // OPT_CHECK is the last code

    Given &slot(int code) { return given_[static_cast<size_t>(code)]; }
    const Given *earlier(const Given *first, int code) const {
        const Given &g = (*this)[code];
        return g.given() && (!first || g.at < first->at) ? &g : first;
    }

    std::array<Given, kCodes> given_{};
    int options_ = 0;  // options read so far
};

// The options that shape the LDIF line: none of them means anything when
// LDIF is read back (-d).
constexpr std::initializer_list<int> kLineOptions = {OPT_B64_READ, OPT_B64_WRITE, OPT_B64_GUESS,
                                                     OPT_WRAP,     OPT_UTF8,      OPT_STRIP_NEWLINE};

struct Settings {
    std::string attr, infile, outfile, string;
    bool decode = false, encode = false, guess = false;
    bool string_given = false, file_given = false, out_given = false;
    int wrap = LDIF_DEFAULT_WIDTH;
    bool utf8 = false, strip_newline = false, ldif_decode = false;
    // -d: the dn of --dn, the prefix and suffix of --split.
    std::string dn, split_prefix, split_suffix;
    // -c: its FILE (a positional argument after -c; none, or "-": standard
    // input).
    bool check = false, check_file_given = false;
    std::string check_file;
    FirstGiven given;
};

// A fold width: a decimal number, 0 or 2..2147483647.
std::optional<int> parse_wrap(std::string_view text) {
    if (text.empty()) return std::nullopt;
    long long n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (c - '0');
        if (n > INT_MAX) return std::nullopt;  // leading zeros are no reason to stop
    }
    if (n == 1 || n > INT_MAX) return std::nullopt;
    return static_cast<int>(n);
}

[[noreturn]] void out_of_memory() {
    std::puts("Unable to allocate memory.\n");
    std::exit(1);
}

int usage_error(const char *program, const char *format, const char *argument) {
    std::fprintf(stderr, format, argument);
    opt_usage_to(stderr, program, opt_tool_table);
    return 2;
}

// ---- command line ----------------------------------------------------------

// Acts on one parsed option; returns the exit status when the run ends here.
std::optional<int> apply_option(int code, const char *value, const char *program, Settings &s) {
    // After -c one argument, or a lone "-", is its FILE.
    const bool check_file = s.check && !s.check_file_given &&
                            (code == OPT_UNEXPECTED || (code == OPT_UNRECOGNISED && std::strcmp(value, "-") == 0));
    if (check_file) {
        s.check_file_given = true;
        s.check_file = value;
        return std::nullopt;
    }
    switch (code) {
        case OPT_B64_READ: s.decode = true; break;
        case OPT_B64_WRITE: s.encode = true; break;
        case OPT_B64_GUESS: s.guess = true; break;
        case OPT_STRING: s.string_given = true; s.string = value; break;
        case OPT_INFILE: s.file_given = true; s.infile = value; break;
        case OPT_OUT: s.out_given = true; s.outfile = value; break;
        case OPT_ATTR: s.attr = value; break;
        case OPT_VERSION: std::fprintf(stderr, "kestrin %s\n", KESTRIN_VERSION); return 0;
        case OPT_WRAP: {
            const auto width = parse_wrap(value);
            if (!width) return usage_error(program, "Invalid wrap width <%s>\n", value);
            s.wrap = *width;
            break;
        }
        case OPT_UTF8: s.utf8 = true; break;
        case OPT_STRIP_NEWLINE: s.strip_newline = true; break;
        case OPT_DECODE: s.ldif_decode = true; break;
        case OPT_CHECK: s.check = true; break;
        case OPT_DN: s.dn = value; break;
        case OPT_SPLIT: s.split_prefix = value; break;
        case OPT_SPLIT_SUFFIX: s.split_suffix = value; break;
        case OPT_UNRECOGNISED: return usage_error(program, "Unknown option <%s>\n", value);
        case OPT_UNEXPECTED: return usage_error(program, "Unexpected argument <%s>\n", value);
        case OPT_NEEDS_VALUE: return usage_error(program, "Option <%s> needs a value\n", value);
        default: break;
    }
    return std::nullopt;
}

// Reads the whole command line before anything else is done; returns the exit
// status when the run ends there (the version, or an error).
std::optional<int> read_command_line(int argc, char **argv, Settings &s) {
    for (;;) {
        char *raw = nullptr;
        const int code = opt_next(argc, argv, opt_tool_table, &raw);
        if (code == OPT_END) return std::nullopt;
        if (code == OPT_NOMEM) out_of_memory();
        const Bytes value(raw);
        if (code > 0) s.given.note(code);
        if (const auto status = apply_option(code, value.get(), argv[0], s)) return status;
    }
}

int needs(const char *program, const Given &option, const char *needed) {
    std::fprintf(stderr, "Option <%s> needs <%s>\n", option.written.c_str(), needed);
    opt_usage_to(stderr, program, opt_tool_table);
    return 2;
}

int cannot_combine(const char *program, const Given &a, const Given &b) {
    const Given &first = a.at < b.at ? a : b, &second = a.at < b.at ? b : a;
    std::fprintf(stderr, "Options <%s> and <%s> cannot be combined\n", first.written.c_str(), second.written.c_str());
    opt_usage_to(stderr, program, opt_tool_table);
    return 2;
}

// -d's own options: each needs the option it works with, and the values go
// to one place only.
std::optional<int> check_decoding(const char *program, const Settings &s) {
    const FirstGiven &g = s.given;
    if (!s.ldif_decode)
        if (const Given *first = g.earliest({OPT_DN, OPT_ALL, OPT_SPLIT, OPT_SPLIT_SUFFIX}))
            return needs(program, *first, "-d");
    const Given &all = g[OPT_ALL], &split = g[OPT_SPLIT], &out = g[OPT_OUT];
    if (all.given() && split.given()) return cannot_combine(program, all, split);
    if (out.given() && split.given()) return cannot_combine(program, out, split);
    if (g[OPT_NULL].given() && !all.given()) return needs(program, g[OPT_NULL], "--all");
    if (g[OPT_SPLIT_SUFFIX].given() && !split.given()) return needs(program, g[OPT_SPLIT_SUFFIX], "--split");
    return std::nullopt;
}

std::optional<int> check_settings(const char *program, const Settings &s) {
    // Options that cannot go together are command-line errors.
    if (s.check)
        if (const Given *other = s.given.earliest_but({OPT_CHECK, OPT_VERSION}))
            return usage_error(program, "Options <-c> and <%s> cannot be combined\n", other->written.c_str());
    if (s.check) return std::nullopt;
    if (s.ldif_decode)
        if (const Given *line = s.given.earliest(kLineOptions))
            return usage_error(program, "Options <-d> and <%s> cannot be combined\n", line->written.c_str());
    if (s.guess && s.utf8) return usage_error(program, "%s", "Options <-G> and <-u> cannot be combined\n");
    if (const auto status = check_decoding(program, s)) return status;
    if (s.attr.empty()) {
        std::fputs("You must specify an attribute\n", stderr);
        opt_usage_to(stderr, program, opt_tool_table);
        return 2;
    }
    // A name the writer refuses is refused here, before any input is read;
    // -d writes no name, so any may be looked for.
    if (!s.ldif_decode && kestrin::tool::attr_refused(s.attr))
        return usage_error(program, "Invalid attribute description <%s>\n", s.attr.c_str());
    if (s.string_given && s.file_given) {
        std::fputs("Input can only be one of string/file/stdin\n", stderr);
        opt_usage_to(stderr, program, opt_tool_table);
        return 1;
    }
    return std::nullopt;
}

// ---- the value ---------------------------------------------------------------

// What the stream is asked for. The tool's value is raw bytes. -G puts a
// test in the place of -B: base64 when a byte has its high bit set, else the
// writer's automatic choice; as that choice takes such a byte for unsafe
// anyway, -G is the automatic mode.
tool::Request make_request(const Settings &s) {
    tool::Request r;
    r.attr = s.attr;
    r.decode = s.decode;
    r.base64 = s.encode && !s.guess;
    r.wrap = s.wrap;
    r.utf8 = s.utf8;
    r.strip_newline = s.strip_newline;
    r.ldif_decode = s.ldif_decode;
    const FirstGiven &g = s.given;
    if (g[OPT_DN].given()) r.dn = s.dn;
    r.values = g[OPT_SPLIT].given() ? tool::Selection::Values::kSplit
               : g[OPT_ALL].given() ? tool::Selection::Values::kAll
                                    : tool::Selection::Values::kFirst;
    r.terminator = g[OPT_NULL].given() ? '\0' : '\n';
    r.split_prefix = s.split_prefix;
    r.split_suffix = s.split_suffix;
    if (s.string_given) {
        r.source = tool::Source::kString;
        r.string = s.string;
    } else if (s.file_given && s.infile != kStdStream) {
        r.source = tool::Source::kFile;
        r.path = s.infile;
    }
    return r;
}

// ---- output ------------------------------------------------------------------

int fail_output() {
    std::fprintf(stderr, "Failed to write output: %s\n", std::strerror(errno));
    return 1;
}

int fail_open(const std::string &path) {
    std::fprintf(stderr, "Could no open outfile<%s>\n", path.c_str());
    return 1;
}

// Streams the line to fd: 0, or the exit status after the message.
int write_line(tool::Stream &stream, int fd) {
    switch (stream.write(fd)) {
        case tool::Written::kOk: return 0;
        case tool::Written::kInputFailed: return 1;
        case tool::Written::kOutputFailed: break;
    }
    return fail_output();
}

// Truncates and writes the target itself: for what cannot be replaced by a
// new file without changing what the name is (links, devices, FIFOs). The
// target may be the input file itself (through a link): the stream copies
// its input aside before the target is truncated.
int write_in_place(const std::string &path, tool::Stream &stream) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return fail_open(path);
    struct stat st {};
    int status = 0;
    if (!stream.detach(fd))
        status = 1;
    else if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::ftruncate(fd, 0) != 0)
        status = fail_output();
    else
        status = write_line(stream, fd);
    if (::close(fd) != 0 && status == 0) return fail_output();
    return status;
}

mode_t new_file_permissions() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// A temporary file that is removed unless it has been renamed into place.
class TempFile {
public:
    explicit TempFile(std::string name) : name_(std::move(name)), fd_(::mkstemp(name_.data())) {}
    ~TempFile() {
        if (fd_ >= 0) ::close(fd_);
        if (fd_ != kNotCreated && fd_ != kRenamed) {
            const int saved = errno;
            ::unlink(name_.c_str());
            errno = saved;
        }
    }
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;

    bool created() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // Closes the descriptor (reporting a failure) and renames over target.
    bool close_and_rename(const std::string &target) {
        const int fd = fd_;
        fd_ = kClosed;
        if (::close(fd) != 0 || ::rename(name_.c_str(), target.c_str()) != 0) return false;
        fd_ = kRenamed;
        return true;
    }

private:
    static constexpr int kNotCreated = -1, kClosed = -2, kRenamed = -3;
    std::string name_;
    int fd_;
};

// Writes a new file beside the target and renames it over the target once it
// is complete and on disk, so that a failed write leaves the old content.
int replace_file(const std::string &path, tool::Stream &stream, const struct stat *old) {
    const std::string dir = tool::directory_of(path);
    TempFile tmp(dir + ".kestrin.XXXXXX");
    if (!tmp.created()) return fail_open(path);
    if (old) tool::keep_owner(tmp.fd(), *old);
    const mode_t mode = old ? old->st_mode & 07777 : new_file_permissions();
    if (const int status = write_line(stream, tmp.fd())) return status;
    if (::fchmod(tmp.fd(), mode) != 0 || ::fsync(tmp.fd()) != 0 || !tmp.close_and_rename(path))
        return fail_output();
    tool::sync_directory(dir);
    return 0;
}

int write_output(const Settings &s, tool::Stream &stream) {
    if (!s.out_given || s.outfile == kStdStream) return write_line(stream, STDOUT_FILENO);
    struct stat st;
    if (::lstat(s.outfile.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode) || st.st_nlink > 1) return write_in_place(s.outfile, stream);
        // A file the user may not write stays as protected as when it was
        // opened for writing itself.
        if (::faccessat(AT_FDCWD, s.outfile.c_str(), W_OK, AT_EACCESS) != 0) return fail_open(s.outfile);
        return replace_file(s.outfile, stream, &st);
    }
    if (errno == ENOENT && !s.outfile.empty()) return replace_file(s.outfile, stream, nullptr);
    return write_in_place(s.outfile, stream);
}

// ---- one run -------------------------------------------------------------------

int run(int argc, char **argv) {
    Settings s;
    if (const auto status = read_command_line(argc, argv, s)) return *status;
    if (const auto status = check_settings(argv[0], s)) return *status;
    if (s.check) return tool::check_input(s.check_file_given && s.check_file != kStdStream ? &s.check_file : nullptr);
    // Every check that can fail is made before anything is written.
    tool::Stream stream;
    if (const int status = stream.prepare(make_request(s))) return status;
    if (s.given[OPT_SPLIT].given()) return stream.write_files();
    return write_output(s, stream);
}

}  // namespace

int main(int argc, char **argv) {
    // Past a file size limit a write fails with EFBIG instead of killing the
    // tool, so the failure is reported and a half-written file removed.
    std::signal(SIGXFSZ, SIG_IGN);
    try {
        const int status = run(argc, argv);
        // A write error that only shows when standard output is closed is a
        // failure too.
        if (status == 0 && std::fclose(stdout) != 0) return fail_output();
        return status;
    } catch (const std::bad_alloc &) {
        out_of_memory();
    }
}
