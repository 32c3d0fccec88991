/*
 * options - the tool's option table, a small one-pass parser and the usage.
 *
 * No bundling of short options ("-bB"), no "--name=value" form, and "--" is
 * not an end-of-options marker. A "-h" or "--help" anywhere on the command
 * line prints the usage and ends the process with status 0.
 */
#ifndef KESTRIN_TOOL_OPTIONS_H
#define KESTRIN_TOOL_OPTIONS_H

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

/*
 * opt_next: examines the next argument (the parser keeps one process-wide
 * argument index, starting at 1).
 * Returns:
 *   the row's code, with *value set to a new malloc'd copy of the option's
 *     value (the caller frees it) or to NULL for an option without a value;
 *   OPT_UNRECOGNISED for an argument beginning with '-' that matches no row,
 *     with *value set to a malloc'd copy of it;
 *   OPT_END when the arguments are used up (*value untouched) or at the first
 *     argument not beginning with '-' (*value NULL), which is not consumed;
 *   OPT_NOMEM when a copy cannot be allocated.
 * Ends the process with status 0, after printing the usage, on a help
 * request, a missing value, or a value that is itself one of the options.
 */
int opt_next(int argc, char **argv, const opt_spec *table, char **value);

/* opt_usage: prints the usage for program and table to stdout; returns 1. */
int opt_usage(const char *program, const opt_spec *table);

/* opt_reset: starts parsing again at argument 1 (for programs and tests that
 * parse more than one argument vector). */
void opt_reset(void);

#ifdef __cplusplus
}
#endif

#endif
