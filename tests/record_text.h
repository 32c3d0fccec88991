// A record read by the record reader (ldif_record), as one text that names
// every part of its structure: what the unit tests, the fuzz target and the
// interoperability helper compare when a record is read, written back and
// read again. Bytes are shown as they are where they are printable ASCII
// (a backslash doubled), else as \xHH; a URL value is marked "url:"; the
// line of the record is left out (it moves when a record is written back),
// and so is whether a value was plain or base64 (the writer chooses again).
// Also the loop that reads the records of a text whole.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "ldif/ldif.h"

namespace testutil {

inline std::string shown(const char *bytes, size_t n) {
    std::string out;
    for (const char c : std::string_view(bytes ? bytes : "", bytes ? n : 0)) {
        const auto u = static_cast<unsigned char>(c);
        if (u == '\\') {
            out += "\\\\";
        } else if (u >= 0x20 && u < 0x7F) {
            out += c;
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            out += hex;
        }
    }
    return out;
}

inline std::string shown(const ldif_value &v) {
    if (!v.bytes) return "(none)";
    return (v.form == LDIF_FORM_URL ? "url:" : "") + shown(v.bytes, v.len);
}

inline std::string record_text(const ldif_record &r) {
    static const char *const kChanges[] = {"entry", "add", "delete", "modify", "modrdn"};
    static const char *const kOps[] = {"add", "delete", "replace", "increment"};
    std::string out = std::string(r.change >= 0 && r.change <= 4 ? kChanges[r.change] : "?") + " dn=" + shown(r.dn, r.dn_len) + "\n";
    for (size_t i = 0; i < r.control_count; ++i)
        out += std::string(" control ") + r.controls[i].oid + (r.controls[i].critical ? " true " : " false ") +
               shown(r.controls[i].value) + "\n";
    for (size_t i = 0; i < r.attr_count; ++i) out += std::string(" ") + r.attrs[i].name + "=" + shown(r.attrs[i].value) + "\n";
    for (size_t i = 0; i < r.mod_count; ++i) {
        out += std::string(" ") + (r.mods[i].op >= 0 && r.mods[i].op <= 3 ? kOps[r.mods[i].op] : "?") + ": " + r.mods[i].name + "\n";
        for (size_t k = 0; k < r.mods[i].value_count; ++k) out += "  " + shown(r.mods[i].values[k]) + "\n";
    }
    if (r.newrdn) out += " newrdn=" + shown(r.newrdn, r.newrdn_len) + " deleteoldrdn=" + std::to_string(r.deleteoldrdn) + "\n";
    if (r.newsuperior) out += " newsuperior=" + shown(r.newsuperior, r.newsuperior_len) + "\n";
    return out;
}

// Reads the records of a text whole, the text handed over in one piece:
// each record to on_record(const ldif_record &), each error to
// on_error(const ldif_record_item &).
template <class OnRecord, class OnError>
void read_records(std::string_view text, OnRecord on_record, OnError on_error) {
    ldif_record_reader *reader = ldif_record_reader_create(0);
    if (!reader) return;
    ldif_record_reader_feed(reader, text.data(), text.size());
    for (;;) {
        ldif_record *rec = nullptr;
        ldif_record_item item;
        const int kind = ldif_record_reader_read(reader, &rec, &item);
        if (kind == LDIF_REC_DONE) break;
        if (kind == LDIF_REC_NEED_INPUT) {
            ldif_record_reader_feed(reader, nullptr, 0);
        } else if (kind == LDIF_REC_ERROR) {
            on_error(item);
        } else {
            on_record(*rec);
            ldif_record_free(rec);
        }
    }
    ldif_record_reader_free(reader);
}

}  // namespace testutil
