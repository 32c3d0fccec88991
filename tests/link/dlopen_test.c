/* Loads a shared object built on the library with dlopen and calls it; with
 * the path of libkestrin.so as well, looks its functions up by symbol.
 * Usage: dlopen_test PLUGIN [LIBKESTRIN_SO] */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

typedef int (*round_trip_fn)(const char *, const char *, char *, size_t);
typedef int (*encode_fn)(const unsigned char *, size_t, char *, size_t);

/* dlsym returns an object pointer; ISO C has no cast from it to a function
 * pointer, so the address is copied (as POSIX intends). */
static void *lookup(void *handle, const char *name, void *fn, size_t fn_size) {
    void *sym = dlsym(handle, name);
    memcpy(fn, &sym, fn_size);
    return sym;
}

static int check_plugin(const char *path) {
    char line[128];
    void *handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    round_trip_fn round_trip;
    int ok;
    if (!handle) {
        fprintf(stderr, "dlopen %s: %s\n", path, dlerror());
        return 0;
    }
    if (!lookup(handle, "plugin_round_trip", &round_trip, sizeof round_trip)) {
        fprintf(stderr, "plugin_round_trip not found in %s\n", path);
        dlclose(handle);
        return 0;
    }
    ok = round_trip("cn", "x\n", line, sizeof line) && strcmp(line, "cn:: eAo=\n") == 0 &&
         round_trip("sn", "plain", line, sizeof line) && strcmp(line, "sn: plain\n") == 0;
    if (!ok) fprintf(stderr, "the plugin gave a wrong result (last line: %s)\n", line);
    dlclose(handle);
    return ok;
}

static int check_library(const char *path) {
    char out[16];
    void *handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    encode_fn encode;
    int ok = 1;
    if (!handle) {
        fprintf(stderr, "dlopen %s: %s\n", path, dlerror());
        return 0;
    }
    if (!lookup(handle, "kestrin_base64_encode", &encode, sizeof encode) || encode((const unsigned char *)"A", 1, out, sizeof out) != 4 || strcmp(out, "QQ==") != 0) {
        fprintf(stderr, "kestrin_base64_encode missing or wrong in %s\n", path);
        ok = 0;
    }
    if (dlsym(handle, "base64_encode") != NULL) {
        fprintf(stderr, "%s exports the unprefixed name base64_encode\n", path);
        ok = 0;
    }
    dlclose(handle);
    return ok;
}

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: dlopen_test PLUGIN [LIBKESTRIN_SO]\n");
        return 2;
    }
    if (!check_plugin(argv[1])) return 1;
    if (argc > 2 && !check_library(argv[2])) return 1;
    puts("dlopen ok");
    return 0;
}
