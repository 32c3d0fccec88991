// Writes a directory-sized LDIF file with the library's own writer: entries
// with folded lines, base64 values, multi-valued attributes and a few large
// binary values; or the same entries as "changetype: add" records, or as
// modify records of three modifications each (the description replaced,
// the two mail values added, the password or a photo replaced).
// Usage: ldif_gen FILE [ENTRIES [entries|add|modify]]
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "ldif/ldif.h"

namespace {

void line(FILE *out, const char *name, const std::string &value, int mode = LDIF_ENC_AUTO) {
    if (ldif_fwrite_attr(out, name, value.data(), static_cast<int>(value.size()), mode) <= 0) std::exit(1);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [ENTRIES [entries|add|modify]]\n", argv[0]);
        return 2;
    }
    const int entries = argc > 2 ? std::atoi(argv[2]) : 100000;
    const std::string form = argc > 3 ? argv[3] : "entries";
    const bool modify = form == "modify";
    FILE *out = std::fopen(argv[1], "w");
    if (!out) return 1;
    std::mt19937 rng(2026);
    std::fputs("version: 1\n\n", out);
    const char *words[] = {"alpha", "bravo", "charlie", "delta", "echo", "foxtrot", "golf", "hotel"};
    for (int i = 0; i < entries; ++i) {
        const std::string uid = "user" + std::to_string(i);
        line(out, "dn", "uid=" + uid + ",ou=people,dc=example,dc=org", LDIF_ENC_AUTO8);
        if (modify) {
            std::string description;
            for (int w = 0; w < 30; ++w) description += std::string(words[rng() % 8]) + " ";
            std::string secret(i % 10000 == 5 ? 1 << 20 : 20, '\0');
            for (auto &c : secret) c = static_cast<char>(rng());
            std::fputs("changetype: modify\nreplace: description\n", out);
            line(out, "description", description);
            std::fputs("-\nadd: mail\n", out);
            line(out, "mail", uid + "@example.org");
            line(out, "mail", uid + ".alias@example.org");
            const char *third = secret.size() > 20 ? "jpegPhoto" : "userPassword";
            std::fprintf(out, "-\nreplace: %s\n", third);
            line(out, third, secret, LDIF_ENC_BASE64);
            std::fputs("-\n\n", out);
            continue;
        }
        if (form == "add") std::fputs("changetype: add\n", out);
        for (const char *oc : {"top", "person", "organizationalPerson", "inetOrgPerson"}) line(out, "objectClass", oc);
        line(out, "uid", uid);
        line(out, "cn", std::string("Test User ") + std::to_string(i));
        line(out, "sn", "User");
        line(out, "givenName", i % 7 ? "Test" : "J\xc3\xa9r\xc3\xb4me");  // some UTF-8: base64
        line(out, "mail", uid + "@example.org");
        line(out, "mail", uid + ".alias@example.org");
        line(out, "telephoneNumber", "+1 555 " + std::to_string(1000 + i % 9000));
        std::string description;
        for (int w = 0; w < 30; ++w) description += std::string(words[rng() % 8]) + " ";
        line(out, "description", description);  // folded, trailing space kept
        std::string secret(20, '\0');
        for (auto &c : secret) c = static_cast<char>(rng());
        line(out, "userPassword", secret, LDIF_ENC_BASE64);
        if (i % 10000 == 5) {  // a few photos of 1 MB
            std::string photo(1 << 20, '\0');
            for (auto &c : photo) c = static_cast<char>(rng());
            line(out, "jpegPhoto", photo, LDIF_ENC_BASE64);
        }
        std::fputc('\n', out);
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
