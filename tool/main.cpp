// kestrin: turns one attribute value into one LDIF attribute line.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "codec/base64.h"
#include "input.h"
#include "ldif/ldif.h"
#include "options.h"
#include "version.h"

namespace {

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
using Bytes = std::unique_ptr<char, FreeDeleter>;

// "-" as the value of -i or -o: standard input or standard output.
constexpr std::string_view kStdStream = "-";

struct Settings {
    std::string attr, infile, outfile;
    bool decode = false, encode = false, guess = false;
    bool string_given = false, file_given = false, out_given = false;
    Bytes input;
    int input_len = 0;
};

struct Value {
    Bytes bytes;
    int len = 0;
};

[[noreturn]] void out_of_memory() {
    std::puts("Unable to allocate memory.\n");
    std::exit(1);
}

int usage_error(const char *program, const char *format, const char *argument) {
    std::fprintf(stderr, format, argument);
    opt_usage(program, opt_tool_table);
    return 2;
}

Bytes copy_of(const char *text, size_t len) {
    Bytes copy(static_cast<char *>(std::malloc(len + 1)));
    if (!copy) out_of_memory();
    std::memcpy(copy.get(), text, len);
    return copy;
}

// ---- command line ----------------------------------------------------------

// Acts on one parsed option; returns the exit status when the run ends here.
std::optional<int> apply_option(int code, const char *value, const char *program, Settings &s) {
    switch (code) {
        case OPT_B64_READ: s.decode = true; break;
        case OPT_B64_WRITE: s.encode = true; break;
        case OPT_B64_GUESS: s.guess = true; break;
        case OPT_STRING: {
            const size_t len = std::strlen(value);
            s.string_given = true;
            s.input_len = static_cast<int>(len);
            s.input = copy_of(value, len);
            break;
        }
        case OPT_INFILE: s.file_given = true; s.infile = value; break;
        case OPT_OUT: s.out_given = true; s.outfile = value; break;
        case OPT_ATTR: s.attr = value; break;
        case OPT_VERSION: std::fprintf(stderr, "kestrin %s\n", KESTRIN_VERSION); return 0;
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
        if (const auto status = apply_option(code, value.get(), argv[0], s)) return status;
    }
}

std::optional<int> check_settings(const char *program, const Settings &s) {
    if (s.attr.empty()) {
        std::fputs("You must specify an attribute\n", stderr);
        opt_usage(program, opt_tool_table);
        return 2;
    }
    if (s.string_given && s.file_given) {
        std::fputs("Input can only be one of string/file/stdin\n", stderr);
        opt_usage(program, opt_tool_table);
        return 1;
    }
    return std::nullopt;
}

// ---- the value ---------------------------------------------------------------

// Fills s.input / s.input_len; returns false (after any message) on failure.
bool acquire_input(Settings &s) {
    if (s.file_given && s.infile != kStdStream) {
        s.input.reset(input_read_file(s.infile.c_str(), &s.input_len));
        if (s.input_len < 0)
            std::fprintf(stderr, "Could not read infile<%s>: %s\n", s.infile.c_str(), std::strerror(errno));
    } else if (!s.string_given) {
        s.input.reset(input_read_stdin(&s.input_len));
        if (s.input_len < 0) std::fprintf(stderr, "Could not read standard input: %s\n", std::strerror(errno));
    }
    if (s.input_len <= 0) return false;
    s.input.get()[s.input_len] = '\0';
    return true;
}

// Replaces the value by its base64 decoding; false (after the message) when
// that fails or gives no byte.
bool decode_value(Value &value) {
    Bytes decoded(static_cast<char *>(std::calloc(static_cast<size_t>(value.len), 1)));
    if (!decoded) {
        std::fputs("Failed to allocate base64 decoding buffer!\n", stderr);
        return false;
    }
    const int got = base64_decode(value.bytes.get(), reinterpret_cast<unsigned char *>(decoded.get()),
                                  static_cast<size_t>(value.len));
    if (got <= 0) {
        std::fprintf(stderr, "Failed to base64-decode input(%d,%d)!\n", value.len, got);
        return false;
    }
    value.bytes = std::move(decoded);  // zero-filled past the data, so NUL-terminated
    value.len = got;
    return true;
}

bool has_high_byte(const Value &value) {
    const auto *bytes = reinterpret_cast<const unsigned char *>(value.bytes.get());
    for (int i = 0; i < value.len; ++i)
        if (bytes[i] & 0x80) return true;
    return false;
}

int encoding_mode(const Settings &s, const Value &value) {
    // The tool's value is raw bytes; under a ";binary" name the writer prints
    // "::" whatever it chose, so only base64 text is correct there.
    if (s.attr.find(";binary") != std::string::npos) return LDIF_ENC_BASE64;
    if (s.guess) return has_high_byte(value) ? LDIF_ENC_BASE64 : LDIF_ENC_AUTO;
    return s.encode ? LDIF_ENC_BASE64 : LDIF_ENC_AUTO;
}

struct Text {
    Bytes chars;
    int len = 0;
};

// The LDIF line, or nothing (after the message).
std::optional<Text> build_line(const Settings &s, const Value &value) {
    Text text;
    errno = 0;
    text.chars.reset(ldif_write_attr(nullptr, &text.len, s.attr.c_str(), value.bytes.get(), value.len,
                                     encoding_mode(s, value)));
    if (text.chars) return text;
    if (errno == EOVERFLOW) std::fputs("Value too large: the LDIF text would be 2 GiB or more\n", stderr);
    std::fputs("Failed to write ldif buffer\n", stderr);
    return std::nullopt;
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

bool write_all(FILE *stream, std::string_view text) {
    return std::fwrite(text.data(), 1, text.size(), stream) == text.size() && std::fflush(stream) == 0;
}

bool write_all(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        text.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

int write_stdout(std::string_view text) { return write_all(stdout, text) ? 0 : fail_output(); }

// Truncates and writes the target itself: for what cannot be replaced by a
// new file without changing what the name is (links, devices, FIFOs).
int write_in_place(const std::string &path, std::string_view text) {
    FILE *out = std::fopen(path.c_str(), "w");
    if (!out) return fail_open(path);
    const bool written = write_all(out, text);
    const int saved = errno;
    if (std::fclose(out) != 0 || !written) {
        if (!written) errno = saved;
        return fail_output();
    }
    return 0;
}

mode_t new_file_permissions() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

std::string directory_of(const std::string &path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
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

void sync_directory(const std::string &dir) {
    const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);  // best effort: the rename has been made either way
    ::close(fd);
}

// Gives the new file the old one's owner and group where that is allowed (as
// root); otherwise the new file is the writer's, with the old permission bits.
void keep_owner(int fd, const struct stat &old) {
    struct stat now;
    if (::fstat(fd, &now) != 0 || (now.st_uid == old.st_uid && now.st_gid == old.st_gid)) return;
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) errno = 0;  // not allowed: the writer's it stays
}

// Writes a new file beside the target and renames it over the target once it
// is complete and on disk, so that a failed write leaves the old content.
int replace_file(const std::string &path, std::string_view text, const struct stat *old) {
    const std::string dir = directory_of(path);
    TempFile tmp(dir + ".kestrin.XXXXXX");
    if (!tmp.created()) return fail_open(path);
    if (old) keep_owner(tmp.fd(), *old);
    const mode_t mode = old ? old->st_mode & 07777 : new_file_permissions();
    if (!write_all(tmp.fd(), text) || ::fchmod(tmp.fd(), mode) != 0 || ::fsync(tmp.fd()) != 0 ||
        !tmp.close_and_rename(path))
        return fail_output();
    sync_directory(dir);
    return 0;
}

int write_output(const Settings &s, std::string_view text) {
    if (!s.out_given || s.outfile == kStdStream) return write_stdout(text);
    struct stat st;
    if (::lstat(s.outfile.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode) || st.st_nlink > 1) return write_in_place(s.outfile, text);
        // A file the user may not write stays as protected as when it was
        // opened for writing itself.
        if (::faccessat(AT_FDCWD, s.outfile.c_str(), W_OK, AT_EACCESS) != 0) return fail_open(s.outfile);
        return replace_file(s.outfile, text, &st);
    }
    if (errno == ENOENT && !s.outfile.empty()) return replace_file(s.outfile, text, nullptr);
    return write_in_place(s.outfile, text);
}

// ---- one run -------------------------------------------------------------------

int run(int argc, char **argv) {
    Settings s;
    if (const auto status = read_command_line(argc, argv, s)) return *status;
    if (const auto status = check_settings(argv[0], s)) return *status;
    if (!acquire_input(s)) return 1;

    Value value{std::move(s.input), s.input_len};
    if (s.decode && !decode_value(value)) return 1;
    const std::optional<Text> text = build_line(s, value);
    if (!text) return 1;
    value = {};
    return write_output(s, {text->chars.get(), static_cast<size_t>(text->len)});
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
