/* A C program on the installed library: writes one attribute line and reads
 * it back. The headers are included in the <kestrin/...> form. */
#include <kestrin/codec/base64.h>
#include <kestrin/ldif/ldif.h>

#include <stdio.h>
#include <stdlib.h>

int main(void) {
    int count = 0, len = 0, binary = 0;
    char *name = NULL, *value = NULL;
    char *text = ldif_write_attr(NULL, &count, "cn", "x\n", 2, LDIF_ENC_AUTO);
    if (!text) return 1;
    fputs(text, stdout);
    if (!ldif_parse_line(text, count, &name, &value, &len, &binary)) return 1;
    printf("read %s: %d bytes, binary %d\n", name, len, binary);
    free(name);
    free(value);
    free(text);
    return 0;
}
