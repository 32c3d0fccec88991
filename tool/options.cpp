#include "options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int opt_index = 1;  // next argument to examine

bool equals(const char *text, const char *name) { return name && std::strcmp(text, name) == 0; }

bool matches(const char *arg, const opt_spec &row) {
    const size_t len = std::strlen(arg);
    if (len >= 2 && row.long_name && equals(arg + 2, row.long_name)) return true;
    return len >= 1 && row.short_name && equals(arg + 1, row.short_name);
}

const opt_spec *find_row(const char *arg, const opt_spec *table) {
    for (const opt_spec *row = table; row->code != 0; ++row)
        if (matches(arg, *row)) return row;
    return nullptr;
}

// The walk used by the usage: every row up to the first one without help.
bool is_option_name(const char *arg, const opt_spec *table) {
    for (const opt_spec *row = table; row->help; ++row)
        if (matches(arg, *row)) return true;
    return false;
}

[[noreturn]] void usage_and_exit(char **argv, const opt_spec *table) {
    opt_usage(argv[0], table);
    std::exit(0);
}

char *copy_of(const char *text) {
    const size_t len = std::strlen(text);
    char *copy = static_cast<char *>(std::calloc(len + 1, 1));
    if (copy) std::memcpy(copy, text, len);
    return copy;
}

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

extern "C" int opt_next(int argc, char **argv, const opt_spec *table, char **value) {
    if (argc == 1 || opt_index == argc) return OPT_END;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0)
            usage_and_exit(argv, table);

    *value = nullptr;
    const char *arg = argv[opt_index];
    if (const opt_spec *row = find_row(arg, table)) {
        if (row->has_arg) {
            ++opt_index;
            if (opt_index >= argc) usage_and_exit(argv, table);
            const char *val = argv[opt_index];
            if (val[0] == '-' && is_option_name(val, table)) usage_and_exit(argv, table);
            *value = copy_of(val);
            if (!*value) return OPT_NOMEM;
        }
        ++opt_index;
        return row->code;
    }
    if (arg[0] == '-') {
        *value = copy_of(arg);
        if (!*value) return OPT_NOMEM;
        ++opt_index;
        return OPT_UNRECOGNISED;
    }
    return OPT_END;
}

extern "C" int opt_usage(const char *program, const opt_spec *table) {
    std::printf("Usage: %s [options]\n\n", program);
    std::printf("  --help,\t-h\t\t\tDisplays this information\n");
    for (const opt_spec *row = table; row->help; ++row) {
        if (!row->long_name && !row->short_name) continue;
        try {
            std::printf("  %s%s\n", option_text(*row).c_str(), row->help);
        } catch (...) {
            // Out of memory for one row's text: the rest is still printed.
        }
    }
    return 1;
}

extern "C" void opt_reset(void) { opt_index = 1; }
