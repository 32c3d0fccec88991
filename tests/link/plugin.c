/* A shared object built on the library, as a plugin or a language extension
 * is: it writes one attribute line and reads it back. */
#include <kestrin/ldif/ldif.h>

#include <stdlib.h>
#include <string.h>

/* Writes the line for name and value into line (NUL-terminated), reads it
 * back and returns 1 when the value read is the value written, else 0. */
int plugin_round_trip(const char *name, const char *value, char *line, size_t size);

int plugin_round_trip(const char *name, const char *value, char *line, size_t size) {
    int count = 0;
    char *text = ldif_write_attr(NULL, &count, name, value, 0, LDIF_ENC_AUTO);
    char *read_name = NULL, *read_value = NULL;
    int read_len = 0, binary = 0, same;
    if (!text || (size_t)count >= size) {
        free(text);
        return 0;
    }
    memcpy(line, text, (size_t)count + 1);
    same = ldif_parse_line(text, count, &read_name, &read_value, &read_len, &binary) != NULL &&
           strcmp(read_name, name) == 0 && (size_t)read_len == strlen(value) &&
           memcmp(read_value, value, (size_t)read_len) == 0;
    free(read_name);
    free(read_value);
    free(text);
    return same;
}
