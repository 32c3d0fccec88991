// The rules of LDIF records: see ldif_record_internal.h.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "ldif/ldif_record_internal.h"

namespace kestrin::ldif::record {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Where the numeric OID at the start of text ends (0: none there).
size_t oid_end(std::string_view text) {
    size_t i = 0;
    for (;;) {
        const size_t start = i;
        while (i < text.size() && is_digit(text[i])) ++i;
        if (i == start) return 0;
        if (i == text.size() || text[i] != '.' || i + 1 == text.size() || !is_digit(text[i + 1])) return i;
        ++i;
    }
}

constexpr std::array<std::string_view, 5> kChanges = {"", "add", "delete", "modify", "modrdn"};
constexpr std::array<std::string_view, 4> kOps = {"add", "delete", "replace", "increment"};

}  // namespace

bool valid_oid(std::string_view oid) { return !oid.empty() && oid_end(oid) == oid.size(); }

bool valid_numeric_type(std::string_view type) { return valid_oid(type) && type.find('.') != std::string_view::npos; }

std::optional<ldif_change> change_named(std::string_view word) {
    if (is_word(word, "moddn")) return LDIF_CHANGE_MODRDN;
    for (size_t i = 1; i < kChanges.size(); ++i)
        if (is_word(word, kChanges[i])) return static_cast<ldif_change>(i);
    return std::nullopt;
}

std::string_view change_word(int change) {
    return change > 0 && static_cast<size_t>(change) < kChanges.size() ? kChanges[static_cast<size_t>(change)] : "";
}

std::optional<ldif_mod_op> op_named(std::string_view name) {
    for (size_t i = 0; i < kOps.size(); ++i)
        if (is_word(name, kOps[i])) return static_cast<ldif_mod_op>(i);
    return std::nullopt;
}

std::string_view op_word(int op) { return op >= 0 && static_cast<size_t>(op) < kOps.size() ? kOps[static_cast<size_t>(op)] : ""; }

std::optional<Control> parse_control(std::string_view text) {
    Control c;
    const size_t end = oid_end(text);
    if (end == 0) return std::nullopt;
    c.oid = text.substr(0, end);
    std::string_view rest = text.substr(end);
    // Spaces, then the criticality, which only spaces may come before.
    size_t spaces = 0;
    while (spaces < rest.size() && rest[spaces] == ' ') ++spaces;
    if (spaces > 0) {
        rest.remove_prefix(spaces);
        for (const std::string_view word : {std::string_view("true"), std::string_view("false")}) {
            if (rest.size() >= word.size() && is_word(rest.substr(0, word.size()), word)) {
                c.critical = word == "true";
                rest.remove_prefix(word.size());
                spaces = 0;
                break;
            }
        }
        if (spaces > 0) return rest.empty() ? std::optional<Control>(c) : std::nullopt;  // only spaces after the OID
    }
    if (rest.find_first_not_of(' ') == std::string_view::npos) return c;
    if (rest[0] != ':') return std::nullopt;
    c.has_value = true;
    bool marked = false;
    c.form = marker_form(rest.size() > 1 ? rest[1] : '\n', marked);
    c.value = rest.substr(marked ? 2 : 1);
    c.value.remove_prefix(std::min(c.value.size(), skip_fill(c.value, 0)));
    return c;
}

size_t format_message(char *out, const char *pattern, std::string_view first, std::string_view second) {
    size_t n = 0;
    const auto put = [&](char c) {
        if (n + 1 < kMessageRoom) out[n++] = c;
    };
    const std::string_view texts[] = {first, second};
    size_t next = 0;
    for (const char *p = pattern; *p; ++p) {
        if (p[0] != '%' || p[1] != 's' || next == 2) {
            put(*p);
            continue;
        }
        ++p;
        const std::string_view text = texts[next++];
        size_t shown = 0;
        for (const char c : text) {
            const auto u = static_cast<unsigned char>(c);
            const size_t width = u >= 0x20 && u < 0x7F ? 1 : 4;
            if (shown + width > 40) {
                for (const char d : std::string_view("...")) put(d);
                break;
            }
            shown += width;
            if (width == 1) {
                put(c);
            } else {
                char hex[5];
                std::snprintf(hex, sizeof hex, "\\x%02X", u);
                for (int i = 0; i < 4; ++i) put(hex[i]);
            }
        }
    }
    out[n] = '\0';
    return n;
}

}  // namespace kestrin::ldif::record
