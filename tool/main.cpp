// kestrin: turns one attribute value into one LDIF attribute line.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "codec/base64.h"
#include "input.h"
#include "ldif/ldif.h"
#include "options.h"
#include "version.h"

namespace {

enum Code { kDecode = 1, kEncode, kGuess, kString, kInfile, kOut, kAttr, kVersion };

const opt_spec kOptions[] = {
    {kDecode, "b64_read", "base64 decode input", "b", 0},
    {kEncode, "b64_write", "base64 encode output", "B", 0},
    {kGuess, "b64_guess", "base64 encode on demand", "G", 0},
    {kString, "string", "Input String (if omitted, stdin)", "s", 1},
    {kInfile, "infile", "Input File (if ommitted, stdin)", "i", 1},
    {kOut, "out", "Outputfile instead of stdout", "o", 1},
    {kAttr, "attr", "Attribute name", "a", 1},
    {kVersion, "version", "Show version information", "V", 0},
    {0, nullptr, nullptr, nullptr, 0},
};

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
using Bytes = std::unique_ptr<char, FreeDeleter>;

struct Settings {
    std::string attr, infile, outfile;
    bool decode = false, encode = false, guess = false;
    bool string_given = false, file_given = false, out_given = false;
    Bytes input;
    int input_len = 0;
};

[[noreturn]] void out_of_memory() {
    std::puts("Unable to allocate memory.\n");
    std::exit(1);
}

Bytes copy_bytes(const char *text, size_t len) {
    Bytes copy(static_cast<char *>(std::malloc(len + 1)));
    if (!copy) out_of_memory();
    std::memcpy(copy.get(), text, len);
    return copy;
}

// Runs the option loop; returns false when the run is over (version shown).
bool parse_options(int argc, char **argv, Settings &s) {
    for (;;) {
        char *raw = nullptr;
        const int code = opt_next(argc, argv, kOptions, &raw);
        if (code == OPT_END) return true;
        if (code == OPT_NOMEM) out_of_memory();
        const Bytes value(raw);
        switch (code) {
            case kDecode: s.decode = true; break;
            case kEncode: s.encode = true; break;
            case kGuess: s.guess = true; break;
            case kString: {
                const size_t len = std::strlen(value.get());
                s.string_given = true;
                s.input_len = static_cast<int>(len);
                s.input = copy_bytes(value.get(), len);
                break;
            }
            case kInfile: s.file_given = true; s.infile = value.get(); break;
            case kOut: s.out_given = true; s.outfile = value.get(); break;
            case kAttr: s.attr = value.get(); break;
            case kVersion: std::fprintf(stderr, "kestrin %s\n", KESTRIN_VERSION); return false;
            default: break;  // unrecognised options are ignored
        }
    }
}

// Fills s.input / s.input_len; returns false (after any message) on failure.
bool acquire_input(Settings &s) {
    if (s.file_given) {
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

bool write_all(FILE *stream, const char *text, int len) {
    return std::fwrite(text, 1, static_cast<size_t>(len), stream) == static_cast<size_t>(len) &&
           std::fflush(stream) == 0;
}

int fail_output() {
    std::fprintf(stderr, "Failed to write output: %s\n", std::strerror(errno));
    return 1;
}

int run(int argc, char **argv) {
    Settings s;
    if (!parse_options(argc, argv, s)) return 0;

    if (s.attr.empty()) {
        std::fputs("You must specify an attribute\n", stderr);
        opt_usage(argv[0], kOptions);
        return 2;
    }
    if (s.string_given && s.file_given) {
        std::fputs("Input can only be one of string/file/stdin\n", stderr);
        opt_usage(argv[0], kOptions);
        return 1;
    }
    int mode = s.encode ? LDIF_ENC_BASE64 : LDIF_ENC_AUTO;
    if (!acquire_input(s)) return 1;

    Bytes value = std::move(s.input);
    int value_len = s.input_len;
    if (s.decode) {
        Bytes decoded(static_cast<char *>(std::calloc(static_cast<size_t>(value_len), 1)));
        if (!decoded) {
            std::fputs("Failed to allocate base64 decoding buffer!\n", stderr);
            return 1;
        }
        const int got = base64_decode(value.get(), reinterpret_cast<unsigned char *>(decoded.get()),
                                      static_cast<size_t>(value_len));
        if (got <= 0) {
            std::fprintf(stderr, "Failed to base64-decode input(%d,%d)!\n", value_len, got);
            return 1;
        }
        value = std::move(decoded);  // zero-filled past the data, so NUL-terminated
        value_len = got;
    }

    if (s.guess) {
        const auto *bytes = reinterpret_cast<const unsigned char *>(value.get());
        mode = LDIF_ENC_AUTO;
        for (int i = 0; i < value_len; ++i)
            if (bytes[i] & 0x80) {
                mode = LDIF_ENC_BASE64;
                break;
            }
    }

    int count = 0;
    errno = 0;
    const Bytes text(ldif_write_attr(nullptr, &count, s.attr.c_str(), value.get(), value_len, mode));
    if (!text) {
        if (errno == EOVERFLOW) std::fputs("Value too large: the LDIF text would be 2 GiB or more\n", stderr);
        std::fputs("Failed to write ldif buffer\n", stderr);
        return 1;
    }
    value.reset();

    if (s.out_given) {
        FILE *out = std::fopen(s.outfile.c_str(), "w");
        if (!out) {
            std::fprintf(stderr, "Could no open outfile<%s>\n", s.outfile.c_str());
            return 1;
        }
        const bool written = write_all(out, text.get(), count);
        const int saved = errno;
        if (std::fclose(out) != 0 || !written) {
            if (!written) errno = saved;
            return fail_output();
        }
        return 0;
    }
    if (!write_all(stdout, text.get(), count)) return fail_output();
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
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
