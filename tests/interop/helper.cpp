// Helper of the interoperability test.
//   helper make MANIFEST   prints an LDIF entry written by ekva2ldif and
//                          writes the values it holds to MANIFEST
//   helper dump FILE       reads FILE with ldif_file2ekva_set and, entry by
//                          entry, with the entry queries; prints both readings
//                          as "reader<TAB>dn<TAB>attr<TAB>value" lines
//   helper records FILE    reads FILE with ldif_file2ekva_set and prints each
//                          record in order: a line "record", then one line
//                          "name<TAB>value" per pair (comments left out)
//   helper openldap FILE   the same listing from libldap's reader
//                          (exit 77 when the helper was built without it)
//   helper convert FILE    every entry of FILE through ldif2ekva and
//                          ekva2ldif, the entries separated by blank lines
//   helper ekva FILE       one record (EKVA_MULTI) of the "key<TAB>base64 of
//                          the value" lines of FILE, in order, printed by
//                          ekva2ldif
//   helper changes FILE    the records of FILE read whole by the record
//                          reader, each as every part of its structure
//                          (tests/record_text.h); exit 1 after an error
//   helper rewrite FILE [WIDTH [MODE]]  the records of FILE read whole and
//                          written back with ldif_write_record (width 77,
//                          mode LDIF_ENC_AUTO unless given), separated by
//                          blank lines; exit 1 after an error
// Every value is printed as base64 of its bytes, so that the test can compare
// the readings with each other and with python-ldap's.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "codec/base64.h"
#include "ldif/ldif.h"
#include "record_text.h"
#include "util/file.h"

#ifdef KESTRIN_INTEROP_LIBLDAP
#include "openldap_reader.h"
#endif

namespace {

std::string b64(const std::string &bytes) {
    std::string out(base64_encoded_size(bytes.size()) + 1, '\0');
    const int n = base64_encode(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), out.data(), out.size());
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

// "attr;binary" keys hold base64 text already; the reader added one ";binary".
std::string attr_of(const std::string &key) {
    const std::string suffix = ";binary";
    if (key.size() > suffix.size() && key.compare(key.size() - suffix.size(), suffix.size(), suffix) == 0)
        return key.substr(0, key.size() - suffix.size());
    return key;
}

int make(const char *manifest_path) {
    std::mt19937 rng(7);
    std::string photo(3000, '\0');
    for (auto &c : photo) c = static_cast<char>(rng());
    photo[0] = '\0';
    photo[1] = '\xff';
    std::string description;
    for (int i = 0; i < 40; ++i) description += "word" + std::to_string(i) + " ";
    description += " trailing";
    const std::vector<std::pair<std::string, std::string>> values = {
        {"dn", "uid=ekva,ou=people,dc=example,dc=org"},
        {"objectClass", "inetOrgPerson"},
        {"uid", "ekva"},
        {"cn", "J\xc3\xa9r\xc3\xb4me M\xc3\xbcller"},
        {"sn", " Leading space"},
        {"givenName", "trailing space "},
        {"description", description},
        {"jpegPhoto", photo},
    };
    ekva_pair **record = ekva_create_mode(8, EKVA_MULTI);
    FILE *manifest = std::fopen(manifest_path, "w");
    if (!record || !manifest) return 1;
    for (const auto &[key, value] : values) {
        if (key == "jpegPhoto")
            ekva_add(&record, "jpegPhoto;binary", b64(value).c_str(), EKVA_MULTI);
        else
            ekva_add(&record, key.c_str(), value.c_str(), EKVA_MULTI);
        if (key != "dn") std::fprintf(manifest, "%s\t%s\t%s\n", values[0].second.c_str(), key.c_str(), b64(value).c_str());
    }
    char *text = ekva2ldif(record);
    if (!text) return 1;
    std::fputs(text, stdout);
    std::free(text);
    ekva_free(record);
    return std::fclose(manifest) == 0 ? 0 : 1;
}

void print_value(const char *reader, const std::string &dn, const std::string &attr, const std::string &value_b64) {
    std::printf("%s\t%s\t%s\t%s\n", reader, dn.c_str(), attr.c_str(), value_b64.c_str());
}

// Calls each(entry, entry_len) for every entry of the file as
// ldif_next_entry cuts it, until each returns false; false when the file
// could not be read or each refused one.
template <class Each>
bool for_each_entry(const char *path, Each each) {
    int len = 0;
    char *text = file_read_all(path, &len);
    if (!text) return false;
    text[len] = '\0';
    const char *cursor = text;
    char *entry = nullptr;
    int entry_len = 0;
    bool ok = true;
    while (ok && (cursor = ldif_next_entry(cursor, 0, &entry, &entry_len))) {
        if (!entry) continue;
        ok = each(entry, entry_len);
        std::free(entry);
    }
    std::free(text);
    return ok;
}

int dump(const char *path) {
    // 1. ldif_file2ekva_set
    ekva_pair ***set = nullptr;
    const int n = ldif_file2ekva_set(&set, path, nullptr);
    for (int i = 0; i < n; ++i) {
        const char *dn = ekva_get(set[i], "dn");
        for (ekva_pair **p = set[i] + 1; *p; ++p) {
            const std::string key = (*p)->key;
            if (key == "dn" || key == "#" || !(*p)->value) continue;
            const bool binary = attr_of(key) != key;
            print_value("set", dn ? dn : "", attr_of(key), binary ? (*p)->value : b64((*p)->value));
        }
    }
    // 2. The entry queries, entry by entry.
    const bool read = for_each_entry(path, [](char *entry, int entry_len) {
        char *dn = nullptr;
        const int dn_len = ldif_entry_get_attr(entry, entry_len, "dn", &dn, 1);
        const std::string dn_text(dn ? dn : "", dn ? static_cast<size_t>(dn_len) : 0);
        std::free(dn);
        std::vector<std::string> seen;
        ekva_pair **record = ldif2ekva(entry, entry_len);
        for (ekva_pair **p = record ? record + 1 : nullptr; p && *p; ++p) {
            const std::string attr = attr_of((*p)->key);
            if (attr == "dn" || attr == "#") continue;
            bool done = false;
            for (const auto &s : seen) done = done || s == attr;
            if (done) continue;
            seen.push_back(attr);
            const int count = ldif_entry_count_attr(entry, entry_len, attr.c_str());
            for (int k = 1; k <= count; ++k) {
                char *value = nullptr;
                const int value_len = ldif_entry_get_attr(entry, entry_len, attr.c_str(), &value, k);
                print_value("query", dn_text, attr, b64(std::string(value ? value : "", value ? static_cast<size_t>(value_len) : 0)));
                std::free(value);
            }
        }
        ekva_free(record);
        return true;
    });
    ekva_set_free(set);
    return read && n > 0 ? 0 : 1;
}

// The record's pairs in order, a value read from base64 (its key ends in the
// ";binary" the reader added) under the name as written, the base64 text as
// the reader gave it.
int records(const char *path) {
    ekva_pair ***set = nullptr;
    const int n = ldif_file2ekva_set(&set, path, nullptr);
    for (int i = 0; i < n; ++i) {
        std::printf("record\n");
        for (ekva_pair **p = set[i] + 1; *p; ++p) {
            const std::string key = (*p)->key;
            if (key == "#" || !(*p)->value) continue;
            const bool binary = attr_of(key) != key;
            std::printf("%s\t%s\n", attr_of(key).c_str(), binary ? (*p)->value : b64((*p)->value).c_str());
        }
    }
    ekva_set_free(set);
    return n > 0 ? 0 : 1;
}

int openldap(const char *path) {
#ifdef KESTRIN_INTEROP_LIBLDAP
    const int n = openldap_print_records(path, stdout);
    return n > 0 ? 0 : 1;
#else
    (void)path;
    std::fprintf(stderr, "built without libldap\n");
    return 77;
#endif
}

int convert(const char *path) {
    int entries = 0;
    const bool ok = for_each_entry(path, [&entries](char *entry, int entry_len) {
        ekva_pair **record = ldif2ekva(entry, entry_len);
        char *out = record ? ekva2ldif(record) : nullptr;
        if (out) std::printf("%s%s", entries++ ? "\n" : "", out);
        std::free(out);
        ekva_free(record);
        return out != nullptr;
    });
    return ok && entries > 0 ? 0 : 1;
}

// A record made of the "key<TAB>base64 value" lines of a file, as ekva2ldif
// writes it (ekva2ldif_wrap with a width when one is given).
int ekva_text(const char *path, const char *width) {
    int len = 0;
    char *text = file_read_all(path, &len);
    if (!text) return 1;
    const std::string all(text, static_cast<size_t>(len));
    std::free(text);
    ekva_pair **record = ekva_create_mode(8, EKVA_MULTI);
    if (!record) return 1;
    bool ok = true;
    for (size_t start = 0, nl; ok && start < all.size(); start = nl + 1) {
        nl = all.find('\n', start);
        if (nl == std::string::npos) nl = all.size();
        const std::string line = all.substr(start, nl - start);
        const size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        const std::string key = line.substr(0, tab), b64text = line.substr(tab + 1);
        std::string value(b64text.size() + 1, '\0');
        const int n = base64_decode(b64text.c_str(), reinterpret_cast<unsigned char *>(value.data()), value.size());
        ok = n >= 0;
        value.resize(n > 0 ? static_cast<size_t>(n) : 0);
        if (ok) ok = ekva_add(&record, key.c_str(), value.c_str(), EKVA_MULTI) > 0;
    }
    char *out = !ok ? nullptr : width ? ekva2ldif_wrap(record, std::atoi(width)) : ekva2ldif(record);
    ekva_free(record);
    if (!out) return 1;
    std::fputs(out, stdout);
    std::free(out);
    return 0;
}

// Calls each(record) for every record of the file, read whole; false when
// the file cannot be read or a record is malformed (its line and message
// printed).
template <class Each>
bool for_each_record(const char *path, Each each) {
    int len = 0;
    char *text = file_read_all(path, &len);
    if (!text) return false;
    bool ok = true;
    testutil::read_records(
        std::string_view(text, static_cast<size_t>(len)), [&](const ldif_record &r) { ok = each(r) && ok; },
        [&](const ldif_record_item &e) {
            std::printf("error %ld: %s\n", e.line, e.value);
            ok = false;
        });
    std::free(text);
    return ok;
}

int changes(const char *path) {
    return for_each_record(path, [](const ldif_record &r) {
               std::fputs(testutil::record_text(r).c_str(), stdout);
               return true;
           })
               ? 0
               : 1;
}

int rewrite(const char *path, int width, int mode) {
    bool first = true;
    return for_each_record(path, [&](const ldif_record &r) {
               int count = 0;
               char *out = ldif_write_record(nullptr, &count, &r, mode, width);
               if (!out) return false;
               std::printf("%s%s", first ? "" : "\n", out);
               first = false;
               std::free(out);
               return true;
           })
               ? 0
               : 1;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 3 && std::strcmp(argv[1], "make") == 0) return make(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "dump") == 0) return dump(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "records") == 0) return records(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "openldap") == 0) return openldap(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "convert") == 0) return convert(argv[2]);
    if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "ekva") == 0)
        return ekva_text(argv[2], argc == 4 ? argv[3] : nullptr);
    if (argc == 3 && std::strcmp(argv[1], "changes") == 0) return changes(argv[2]);
    if (argc >= 3 && argc <= 5 && std::strcmp(argv[1], "rewrite") == 0)
        return rewrite(argv[2], argc > 3 ? std::atoi(argv[3]) : LDIF_DEFAULT_WIDTH, argc > 4 ? std::atoi(argv[4]) : 0);
    std::fprintf(stderr,
                 "usage: %s make MANIFEST | dump FILE | records FILE | openldap FILE | convert FILE | ekva FILE [WIDTH]"
                 " | changes FILE | rewrite FILE [WIDTH [MODE]]\n",
                 argv[0]);
    return 2;
}
