/*
 * options - the tool's option table, a small one-pass parser and the usage.
 *
 * Forms read by opt_next, left to right:
 *   -x VALUE, --name VALUE   an option and, when its row takes one, its value
 *                            in the next argument;
 *   --name=VALUE             a long option with its value joined (the value
 *                            may be empty; "=" after a flag is unknown);
 *   -bB, -Ba VALUE           bundled one-letter flags, the last letter may
 *                            take the next argument as its value;
 *   --                       ends the options; whatever follows is an
 *                            unexpected argument.
 * A "-h" or "--help" anywhere on the command line prints the usage and ends
 * the process with status 0, before any option is looked at.
 */
#ifndef KESTRIN_TOOL_OPTIONS_H
#define KESTRIN_TOOL_OPTIONS_H

#include <stdio.h>

#include "kestrin_api.h" /* KESTRIN_NOEXCEPT */

#ifdef __cplusplus
extern "C" {
#endif

/* One option row; a row with code 0 ends the table for matching, a row with
 * no help ends it for the usage. */
typedef struct opt_spec {
    int code;              /* returned by opt_next when the row matches */
    const char *long_name; /* without the leading "--", may be NULL */
    const char *help;      /* usage text */
    const char *short_name;/* one letter without the '-', may be NULL */
    int has_arg;           /* non-zero: the next argument is the value */
} opt_spec;

enum { OPT_END = 0, OPT_NOMEM = -1, OPT_UNRECOGNISED = -2 };
/* Command-line errors other than an unknown option. */
enum { OPT_UNEXPECTED = -3, OPT_NEEDS_VALUE = -4 };

/* The tool's own options and their codes. */
enum {
    OPT_B64_READ = 1,
    OPT_B64_WRITE,
    OPT_B64_GUESS,
    OPT_STRING,
    OPT_INFILE,
    OPT_OUT,
    OPT_ATTR,
    OPT_VERSION,
    OPT_WRAP,
    OPT_UTF8,
    OPT_STRIP_NEWLINE,
    OPT_DECODE,
    OPT_DN,
    OPT_ALL,
    OPT_NULL,
    OPT_SPLIT,
    OPT_SPLIT_SUFFIX,
    OPT_CHECK
};
extern const opt_spec opt_tool_table[];

/*
 * opt_next: examines the next argument (the parser keeps one process-wide
 * argument index, starting at 1).
 * Returns:
 *   the row's code, with *value set to a new malloc'd copy of the option's
 *     value (the caller frees it) or to NULL for an option without a value;
 *   OPT_UNRECOGNISED for an argument beginning with '-' that is none of the
 *     forms above (a lone "-" included), *value a malloc'd copy of it;
 *   OPT_UNEXPECTED for the first argument that is not an option (or the
 *     first one after "--"), *value a malloc'd copy of it;
 *   OPT_NEEDS_VALUE when an option that takes a value is the last argument,
 *     or is followed by an argument that is itself one of the table's
 *     options ("-s -B"), *value a malloc'd copy of the option as written; a
 *     value that begins with '-' but names no option ("-s -5") is taken;
 *   OPT_END when the arguments are used up (*value untouched);
 *   OPT_NOMEM when a copy cannot be allocated.
 * Parsing is meant to stop at the first negative result.
 */
int opt_next(int argc, char **argv, const opt_spec *table, char **value) KESTRIN_NOEXCEPT;

/* opt_usage: prints the usage for program and table to stdout; returns 1. */
int opt_usage(const char *program, const opt_spec *table) KESTRIN_NOEXCEPT;

/* opt_usage_to: the same usage on stream (standard error after a command-line
 * error, so that standard output carries only LDIF); returns 1. */
int opt_usage_to(FILE *stream, const char *program, const opt_spec *table) KESTRIN_NOEXCEPT;

/* opt_written: the last option that opt_next returned, as it was written:
 * "--wrap" (also for "--wrap=5"), "-w", or "-w" for the letter of a bundle
 * such as "-bw"; "" before the first. Valid until the next call. */
const char *opt_written(void) KESTRIN_NOEXCEPT;

/* opt_reset: starts parsing again at argument 1 (for programs and tests that
 * parse more than one argument vector). */
void opt_reset(void) KESTRIN_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
