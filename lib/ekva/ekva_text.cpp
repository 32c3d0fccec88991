// The text forms of a record: listings, key=value text both ways, and one
// delimited line.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "util/guard_internal.h"
#include "ekva/csv.h"
#include "ekva/ekva.h"
#include "ekva/ekva_internal.h"
#include "util/alloc_internal.h"
#include "util/str.h"

namespace kestrin::ekva_text {
namespace {

// Frees a malloc'd text on scope exit.
struct Owned {
    char *p;
    explicit Owned(char *text) : p(text) {}
    Owned(const Owned &) = delete;
    Owned &operator=(const Owned &) = delete;
    ~Owned() { std::free(p); }
};

struct OwnedList {
    char **p;
    explicit OwnedList(char **list) : p(list) {}
    OwnedList(const OwnedList &) = delete;
    OwnedList &operator=(const OwnedList &) = delete;
    ~OwnedList() { strlist_free(p); }
};

// The field of the entry at `at`, or false when memory ran out. `at` moves
// past the entry, and past the directly following entries of the same key
// when their values were joined into this field.
bool csv_field(ekva_pair **record, ekva_pair **&at, char sep, bool force, bool keys_only, std::string &field) {
    const ekva_pair *entry = *at;
    ++at;
    if (keys_only) {
        Owned q(csv_quote(entry->key, sep, force));
        if (!q.p) return false;
        field = q.p;
        return true;
    }
    if (!entry->value) {
        field.clear();
        return true;
    }
    if (ekva_count_key(record, entry->key) > 1) {
        OwnedList values(ekva_get_values(record, entry->key));
        Owned joined(strlist_join(values.p, '|'));
        Owned q(csv_quote(joined.p ? joined.p : "", sep, force));
        if ((values.p && !joined.p) || !q.p) return false;
        field = q.p;
        while (*at && std::strcmp((*at)->key, entry->key) == 0) ++at;
        return true;
    }
    const char *value = ekva_get(record, entry->key);
    Owned q(csv_quote(value ? value : "", sep, force));
    if (!q.p) return false;
    field = q.p;
    return true;
}

char *to_csv_line(ekva_pair **record, char sep, bool force, bool keys_only) {
    std::string line;
    bool first = true;
    for (ekva_pair **at = ekva::entries_after_header(record); *at;) {
        if (std::strstr((*at)->key, ";binary")) {
            ++at;
            continue;
        }
        std::string field;
        if (!csv_field(record, at, sep, force, keys_only, field)) return nullptr;
        if (!first) line += sep;
        line += field;
        first = false;
    }
    return mem::duplicate(line);
}

std::string to_kv_text(ekva_pair **record, char sep) {
    std::string text;
    ekva_pair **const first = ekva::entries_from_slot1(record);
    for (ekva_pair **p = first; *p; ++p) {
        if (p != first) text += sep;
        text += (*p)->key;
        text += '=';
        if ((*p)->value) text += (*p)->value;
    }
    return text;
}

void fill_from_kv_text(ekva_pair **&record, const char *text, char sep, std::vector<char> &key,
                       std::vector<char> &value, std::string &piece) {
    for (const char *p = text; *p;) {
        const char *end = std::strchr(p, sep);
        if (!end || sep == '\0') end = p + std::strlen(p);
        piece.assign(p, static_cast<size_t>(end - p));
        p = *end ? end + 1 : end;
        if (piece.empty()) continue;
        str_split_key_value(piece.c_str(), key.data(), value.data());
        if (key[0] == '\0') continue;
        if (ekva_add(&record, key.data(), value.data(), EKVA_MULTI_ALT) <= 0)
            message("failed to add value <%s> for key <%s>", value.data(), key.data());
    }
}

ekva_pair **from_kv_text(const char *text, char sep) {
    const size_t len = std::strlen(text);
    if (len > static_cast<size_t>(INT32_MAX)) return nullptr;
    std::vector<char> key(len + 1), value(len + 1);
    std::string piece;
    ekva_pair **record = ekva_create_mode(static_cast<int>(len), EKVA_MULTI);
    if (!record) return nullptr;
    if (!guarded(false, [&] { return fill_from_kv_text(record, text, sep, key, value, piece), true; })) {
        ekva_free(record);
        return nullptr;
    }
    return record;
}

}  // namespace
}  // namespace kestrin::ekva_text

using namespace kestrin;

extern "C" int ekva_print(ekva_pair **record) noexcept {
    if (!record) return 0;
    int n = 0;
    for (ekva_pair **p = ekva::entries_after_header(record); *p; ++p, ++n) {
        if ((*p)->value)
            std::printf("%s: <%s>\n", (*p)->key, (*p)->value);
        else
            std::printf("%s: NULL\n", (*p)->key);
    }
    return n;
}

extern "C" int ekva_fprint(ekva_pair **record, FILE *stream, int width) noexcept {
    if (!record || !stream) return 0;
    int n = 0;
    for (ekva_pair **p = ekva::entries_after_header(record); *p; ++p, ++n)
        std::fprintf(stream, "%-*s: <%s>\n", width, (*p)->key, (*p)->value ? (*p)->value : "NULL");
    return n;
}

extern "C" char *ekva_to_kv_text(ekva_pair **record, char sep) noexcept {
    if (!record) return nullptr;
    return guarded<char *>(nullptr, [&] { return mem::duplicate(ekva_text::to_kv_text(record, sep)); });
}

extern "C" ekva_pair **ekva_from_kv_text(const char *text, char sep) noexcept {
    if (!text) return nullptr;
    return guarded<ekva_pair **>(nullptr, [&] { return ekva_text::from_kv_text(text, sep); });
}

extern "C" char *ekva_to_csv_line(ekva_pair **record, char sep, int force, int keys_only) noexcept {
    if (!record) return nullptr;
    return guarded<char *>(nullptr, [&] { return ekva_text::to_csv_line(record, sep, force != 0, keys_only != 0); });
}
