// LDIF entries to EKVA records and record sets, and a record back to LDIF.
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "codec/base64.h"
#include "ekva/ekva_internal.h"
#include "ldif/ldif.h"
#include "ldif/ldif_internal.h"
#include "util/alloc_internal.h"
#include "util/file.h"
#include "util/grow_internal.h"

namespace kestrin::ldif {
namespace {

constexpr int kRecordCapacity = 50;
constexpr int kSetCapacity = 50;

// Adds one parsed line to the record: bytes as base64 text under
// "<name>;binary", text as it is. False when memory ran out.
bool add_line(ekva_pair **&record, const Line &line, std::string &key, std::string &encoded) {
    if (line.name.empty()) return true;
    if (!line.binary) return ekva::add(&record, line.name, &line.value, EKVA_APPEND) > 0;
    if (line.value.empty()) return true;  // nothing to encode: no pair
    encoded.resize((line.value.size() + 2) / 3 * 4 + 1);
    const int n = base64_encode(reinterpret_cast<const unsigned char *>(line.value.data()), line.value.size(),
                                encoded.data(), encoded.size());
    if (n <= 0) return true;
    key.assign(line.name);
    key += ";binary";
    const std::string_view text(encoded.data(), static_cast<size_t>(n));
    return ekva::add(&record, key, &text, EKVA_MULTI) > 0;
}

struct RecordGuard {
    ekva_pair **record;
    ~RecordGuard() { ekva_free(record); }
    ekva_pair **release() {
        ekva_pair **r = record;
        record = nullptr;
        return r;
    }
};

ekva_pair **to_record(const char *text) {
    RecordGuard guard{ekva_create_mode(kRecordCapacity, EKVA_MULTI)};
    ekva_pair **&record = guard.record;
    if (!record) return nullptr;
    Workspace ws;
    Line line;
    std::string key, encoded;
    const char *cursor = text;
    Parsed parsed = parse_line(cursor, ws, line, &cursor);
    if (parsed != Parsed::kLine) {
        std::fputs("ldif2ekva: failed to parse ldif buffer\n", stderr);
        std::fflush(stderr);
        return nullptr;
    }
    // A later line that cannot be parsed ends the record quietly.
    for (; parsed == Parsed::kLine; parsed = parse_line(cursor, ws, line, &cursor))
        if (!add_line(record, line, key, encoded)) return nullptr;
    return guard.release();
}

ekva_pair **to_record_or_null(const char *text) {
    try {
        return to_record(text);
    } catch (...) {
        return nullptr;
    }
}

// The object-class filter: only the first objectClass value counts.
bool passes_filter(ekva_pair **record, const char *class_name) {
    if (!class_name) return true;
    const char *first = ekva_get(record, "objectClass");
    return !first || std::strcmp(first, class_name) == 0;
}

// Cuts the text into entries and hands each converted, filtered record to
// store(record), which takes it over and returns false to stop the walk.
template <class Store>
void for_each_record(const char *text, const char *class_name, Store store) {
    if (!text) return;
    const char *cursor = text;
    for (;;) {
        char *entry = nullptr;
        int entry_len = 0;
        cursor = ldif_next_entry(cursor, 0, &entry, &entry_len);
        if (!cursor) return;
        if (!entry) continue;
        ekva_pair **record = to_record_or_null(entry);
        std::free(entry);
        if (!record) continue;
        if (!passes_filter(record, class_name)) {
            ekva_free(record);
            continue;
        }
        if (!store(record)) return;
    }
}

int to_set(ekva_pair ****set, const char *text, const char *class_name) {
    if (!set) return 0;
    ekva_pair ***records = nullptr;
    int count = 0, capacity = kSetCapacity;
    for_each_record(text, class_name, [&](ekva_pair **record) {
        if (!grow::make_room(records, count, &capacity)) {
            ekva_free(record);
            return false;  // no memory: the records stored so far stay
        }
        count = grow::store(records, count, record);
        return true;
    });
    if (count > 0) *set = records;
    return count;
}

int append_to_set(ekva_pair ****set, const char *text, const char *class_name, int count, int *capacity) {
    if (!set) return count;
    for_each_record(text, class_name, [&](ekva_pair **record) {
        const int before = count;
        count = ekva_set_push(set, record, count, capacity);
        ekva_free(record);
        return count != before;
    });
    return count;
}

template <class Load>
int from_file(const char *path, int unread, Load load) {
    int len = 0;
    char *text = file_read_all(path, &len);
    if (!text) return unread;
    text[len] = '\0';
    const int result = load(text);
    std::free(text);
    return result;
}

char *to_ldif(ekva_pair **record) {
    std::string text;
    auto write = [&text](const char *name, const char *value, int mode) {
        int count = 0;
        char *line = ldif_write_attr(nullptr, &count, name, value, static_cast<int>(std::strlen(value)), mode);
        if (!line) return;  // this line cannot be written: the rest still is
        text.append(line, static_cast<size_t>(count));
        std::free(line);
    };
    const char *dn = ekva_get(record, "dn");
    if (dn) write("dn", dn, LDIF_ENC_AUTO8);
    for (ekva_pair **p = record + (record[0] ? 1 : 0); *p; ++p) {
        // The dn has been written first; no variant of its key is written again.
        if (dn && (*p)->key && strcasecmp((*p)->key, "dn") == 0) continue;
        if (!(*p)->value || !(*p)->key) continue;
        write((*p)->key, (*p)->value, LDIF_ENC_AUTO);
    }
    return mem::duplicate(text);
}

}  // namespace
}  // namespace kestrin::ldif

using namespace kestrin;

extern "C" ekva_pair **ldif2ekva(const char *text, int length) {
    (void)length;  // the text is NUL-terminated; lines are found by scanning
    return ldif::to_record_or_null(text);
}

extern "C" int ldif2ekva_set(ekva_pair ****set, const char *text, const char *class_name) {
    return ldif::to_set(set, text, class_name);
}

extern "C" int ldif2ekva_set_append(ekva_pair ****set, const char *text, const char *class_name, int count,
                                    int *capacity) {
    return ldif::append_to_set(set, text, class_name, count, capacity);
}

extern "C" int ldif_file2ekva_set(ekva_pair ****set, const char *path, const char *class_name) {
    return ldif::from_file(path, 0, [&](const char *text) { return ldif2ekva_set(set, text, class_name); });
}

extern "C" int ldif_file2ekva_set_append(ekva_pair ****set, const char *path, const char *class_name, int count,
                                         int *capacity) {
    return ldif::from_file(path, count, [&](const char *text) {
        return ldif2ekva_set_append(set, text, class_name, count, capacity);
    });
}

extern "C" char *ekva2ldif(ekva_pair **record) {
    if (!record) return nullptr;
    try {
        return ldif::to_ldif(record);
    } catch (...) {
        return nullptr;
    }
}
