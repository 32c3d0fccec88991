#include "options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

extern "C" const opt_spec opt_tool_table[] = {
    {OPT_B64_READ, "b64_read", "base64 decode input", "b", 0},
    {OPT_B64_WRITE, "b64_write", "base64 encode output", "B", 0},
    {OPT_B64_GUESS, "b64_guess", "base64 encode on demand", "G", 0},
    {OPT_STRING, "string", "Input String (if omitted, stdin)", "s", 1},
    {OPT_INFILE, "infile", "Input File (if ommitted, stdin)", "i", 1},
    {OPT_OUT, "out", "Outputfile instead of stdout", "o", 1},
    {OPT_ATTR, "attr", "Attribute name", "a", 1},
    {OPT_VERSION, "version", "Show version information", "V", 0},
    {OPT_WRAP, "wrap", "fold lines at <args> characters (0: never)", "w", 1},
    {OPT_UTF8, "utf8", "write UTF-8 text as it is", "u", 0},
    {OPT_STRIP_NEWLINE, "strip-newline", "drop one newline at the end of input", "n", 0},
    {OPT_DECODE, "decode", "LDIF input: write the value of the attribute", "d", 0},
    {OPT_DN, "dn", "with -d: only the entry of this dn", nullptr, 1},
    {OPT_ALL, "all", "with -d: every value, each on a line of its own", nullptr, 0},
    {OPT_NULL, "null", "with --all: end each value with a NUL byte", "0", 0},
    {OPT_SPLIT, "split", "with -d: every value into a file <args>1, <args>2, ...", nullptr, 1},
    {OPT_SPLIT_SUFFIX, "split-suffix", "with --split: put <args> after the number", nullptr, 1},
    {OPT_CHECK, "check", "check the LDIF records of FILE (else stdin)", "c", 0},
    {0, nullptr, nullptr, nullptr, 0},
};

namespace {

// The parser's process-wide position.
int opt_index = 1;         // next argument to examine
size_t bundle_pos = 0;     // next letter of a bundle such as "-bB"; 0 outside one
bool options_ended = false;  // "--" has been seen
std::string last_written;    // the last option returned, as written

bool is_long(std::string_view arg) { return arg.size() > 2 && arg.starts_with("--"); }
bool is_short(std::string_view arg) { return arg.size() > 1 && arg[0] == '-' && arg[1] != '-'; }

bool matches(std::string_view arg, const opt_spec &row) {
    if (is_long(arg)) return row.long_name && arg.substr(2) == row.long_name;
    return is_short(arg) && row.short_name && arg.substr(1) == row.short_name;
}

// The matching walk: rows up to the one with code 0.
const opt_spec *find_row(std::string_view arg, const opt_spec *table) {
    for (const opt_spec *row = table; row->code != 0; ++row)
        if (matches(arg, *row)) return row;
    return nullptr;
}

// The walk that decides whether a would-be value is an option instead: rows
// up to the first one without help.
bool is_option_name(std::string_view arg, const opt_spec *table) {
    for (const opt_spec *row = table; row->help; ++row)
        if (matches(arg, *row)) return true;
    return false;
}

const opt_spec *find_letter(char letter, const opt_spec *table) {
    const char name[2] = {letter, '\0'};
    for (const opt_spec *row = table; row->code != 0; ++row)
        if (row->short_name && std::strcmp(row->short_name, name) == 0) return row;
    return nullptr;
}

// "-bB", "-Ba": two or more one-letter options, only the last of which may
// take a value.
bool is_bundle(std::string_view arg, const opt_spec *table) {
    if (!is_short(arg) || arg.size() < 3) return false;
    for (size_t i = 1; i < arg.size(); ++i) {
        const opt_spec *row = find_letter(arg[i], table);
        if (!row || (row->has_arg && i + 1 < arg.size())) return false;
    }
    return true;
}

[[noreturn]] void usage_and_exit(char **argv, const opt_spec *table) {
    opt_usage(argv[0], table);
    std::exit(0);
}

char *copy_of(std::string_view text) {
    char *copy = static_cast<char *>(std::calloc(text.size() + 1, 1));
    if (copy) std::memcpy(copy, text.data(), text.size());
    return copy;
}

// Hands back `text` as the value with `result`, or OPT_NOMEM.
int with_copy(int result, std::string_view text, char **value) {
    *value = copy_of(text);
    return *value ? result : OPT_NOMEM;
}

// The option `row`, written as `written`, takes the next argument as its value.
int take_value(int argc, char **argv, const opt_spec *table, const opt_spec &row, const char *written,
               char **value) {
    ++opt_index;
    if (opt_index >= argc || (argv[opt_index][0] == '-' && is_option_name(argv[opt_index], table)))
        return with_copy(OPT_NEEDS_VALUE, written, value);
    const int result = with_copy(row.code, argv[opt_index], value);
    ++opt_index;
    return result;
}

// The option `row` found at the current argument, as written there.
int found(int argc, char **argv, const opt_spec *table, const opt_spec &row, char **value) {
    if (row.has_arg) return take_value(argc, argv, table, row, argv[opt_index], value);
    ++opt_index;
    return row.code;
}

// "--name=value": only options that take a value accept it.
int joined_value(std::string_view arg, const opt_spec *table, char **value) {
    const size_t eq = arg.find('=');
    const opt_spec *row = find_row(arg.substr(0, eq), table);
    ++opt_index;
    if (!row || !row->has_arg) return with_copy(OPT_UNRECOGNISED, arg, value);
    last_written = arg.substr(0, eq);
    return with_copy(row->code, arg.substr(eq + 1), value);
}

// The next letter of the bundle at the current argument.
int bundle_letter(int argc, char **argv, const opt_spec *table, char **value) {
    const std::string_view arg = argv[opt_index];
    const opt_spec &row = *find_letter(arg[bundle_pos], table);
    last_written = std::string("-") + arg[bundle_pos];
    if (++bundle_pos < arg.size()) return row.code;
    bundle_pos = 0;
    return found(argc, argv, table, row, value);
}

}  // namespace

extern "C" int opt_next(int argc, char **argv, const opt_spec *table, char **value) noexcept {
    if (argc <= 1 || opt_index >= argc) return OPT_END;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0)
            usage_and_exit(argv, table);

    *value = nullptr;
    if (bundle_pos > 0) return bundle_letter(argc, argv, table, value);
    const std::string_view arg = argv[opt_index];
    if (!options_ended && arg == "--") {
        options_ended = true;
        if (++opt_index >= argc) return OPT_END;
        return opt_next(argc, argv, table, value);
    }
    if (options_ended || arg.empty() || arg[0] != '-') {
        ++opt_index;
        return with_copy(OPT_UNEXPECTED, arg, value);
    }
    if (const opt_spec *row = find_row(arg, table)) {
        last_written = arg;
        return found(argc, argv, table, *row, value);
    }
    if (is_long(arg) && arg.find('=') != std::string_view::npos) return joined_value(arg, table, value);
    if (is_bundle(arg, table)) {
        bundle_pos = 1;
        return bundle_letter(argc, argv, table, value);
    }
    ++opt_index;
    return with_copy(OPT_UNRECOGNISED, arg, value);
}

namespace {

std::string option_text(const opt_spec &row) {
    const char *l = row.long_name, *s = row.short_name;
    std::string text;
    if (l && s) {
        text = std::string("--") + l + ",\t-" + s + (row.has_arg ? " <args>\t\t" : "\t\t\t");
    } else if (l) {
        text = std::string("--") + l + (row.has_arg ? " <args>\t\t\t" : "\t\t\t");
    } else if (s) {
        text = std::string("\t\t-") + s + (row.has_arg ? " <args>\t\t" : "\t\t\t");
    }
    return text;
}

}  // namespace

extern "C" int opt_usage_to(FILE *stream, const char *program, const opt_spec *table) noexcept {
    std::fprintf(stream, "Usage: %s [options]\n\n", program);
    std::fprintf(stream, "  --help,\t-h\t\t\tDisplays this information\n");
    for (const opt_spec *row = table; row->help; ++row) {
        if (!row->long_name && !row->short_name) continue;
        try {
            std::fprintf(stream, "  %s%s\n", option_text(*row).c_str(), row->help);
        } catch (...) {
            // Out of memory for one row's text: the rest is still printed.
        }
    }
    return 1;
}

extern "C" int opt_usage(const char *program, const opt_spec *table) noexcept {
    return opt_usage_to(stdout, program, table);
}

extern "C" const char *opt_written(void) noexcept { return last_written.c_str(); }

extern "C" void opt_reset(void) noexcept {
    opt_index = 1;
    bundle_pos = 0;
    options_ended = false;
    last_written.clear();
}
