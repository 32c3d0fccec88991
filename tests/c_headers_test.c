/* Every public header, compiled as C11 with warnings as errors. */
#include "codec/base64.h"
#include "codec/hex.h"
#include "codec/sha1.h"
#include "ekva/csv.h"
#include "ekva/datetime.h"
#include "ekva/ekva.h"
#include "ekva/strlist.h"
#include "util/str.h"
#include "util/file.h"
#include "ldif/ldif.h"
#include "options.h"
#include "input.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(void) {
    char out[16];
    unsigned char bytes[4];
    int count = 0;
    char *line;
    opt_spec row = {1, "x", "help", "x", 0};
    if (base64_encode((const unsigned char *)"A", 1, out, sizeof out) != 4 || strcmp(out, "QQ==") != 0)
        return 1;
    if (base64_encoded_size(1) != 4 || base64_decode_n("QQ==x", 4, bytes, sizeof bytes) != 1 || bytes[0] != 'A')
        return 1;
    line = ldif_write_attr(NULL, &count, "cn", "x", 1, LDIF_ENC_AUTO);
    if (!line || strcmp(line, "cn: x\n") != 0) return 1;
    free(line);
    (void)row;
    puts("C headers ok");
    return 0;
}
