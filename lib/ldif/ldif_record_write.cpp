// The record writer (ldif_write_record): a record checked against the rules
// the record reader applies, then written line by line through the
// attribute writer's own line layout (ldif_write_internal.h), so that the
// value rules, the base64 encoding and the folding are the writer's.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string_view>

#include "ldif/ldif.h"
#include "ldif/ldif_record_internal.h"
#include "ldif/ldif_write_internal.h"
#include "util/alloc_internal.h"
#include "util/guard_internal.h"

namespace kestrin::ldif {
namespace {

std::string_view bytes_of(const char *p, size_t n) { return p ? std::string_view(p, n) : std::string_view(); }
std::string_view bytes_of(const ldif_value &v) { return bytes_of(v.bytes, v.len); }

// A URL is written as it stands: a line break would end the line, and the
// reader takes a NUL for part of it but the writer's URL text ends there.
bool url_refused(const ldif_value &v) {
    return v.form == LDIF_FORM_URL && bytes_of(v).find_first_of(std::string_view("\0\r\n", 3)) != std::string_view::npos;
}

bool attribute_refused(const char *name, const ldif_value &value) {
    return !name || !record::valid_description(name) || url_refused(value);
}

// Whether the record breaks a rule that the reader would refuse it for.
bool refused(const ldif_record &r) {
    const int change = r.change;
    if (change < LDIF_CHANGE_NONE || change > LDIF_CHANGE_MODRDN) return true;
    const bool attrs = change == LDIF_CHANGE_NONE || change == LDIF_CHANGE_ADD;
    if (attrs ? r.attr_count == 0 : r.attr_count > 0) return true;
    if (change != LDIF_CHANGE_MODIFY && r.mod_count > 0) return true;
    if (change == LDIF_CHANGE_MODRDN ? !r.newrdn : r.newrdn || r.newsuperior) return true;
    if (change == LDIF_CHANGE_NONE && r.control_count > 0) return true;
    for (size_t i = 0; i < r.control_count; ++i)
        if (!r.controls[i].oid || !record::valid_oid(r.controls[i].oid) || url_refused(r.controls[i].value)) return true;
    for (size_t i = 0; i < r.attr_count; ++i)
        if (attribute_refused(r.attrs[i].name, r.attrs[i].value) || record::structural_name(r.attrs[i].name)) return true;
    for (size_t i = 0; i < r.mod_count; ++i) {
        const ldif_mod &m = r.mods[i];
        if (m.op < LDIF_MOD_ADD || m.op > LDIF_MOD_INCREMENT || !m.name || !record::valid_description(m.name)) return true;
        if (m.op == LDIF_MOD_INCREMENT && m.value_count != 1) return true;
        for (size_t k = 0; k < m.value_count; ++k)
            if (url_refused(m.values[k])) return true;
    }
    return false;
}

// The text of the record, built apart from the caller's buffer: each line
// in a buffer of its own, then added, so that a failure leaves all of it to
// be freed here.
class Text {
public:
    Text(int mode, size_t width) : mode_(mode), width_(width) {}
    ~Text() { std::free(text_); }
    Text(const Text &) = delete;
    Text &operator=(const Text &) = delete;

    // "name: value", or "name:: base64", or "name:< url": the name printed
    // as given, a name with the binary option always in base64.
    bool value(std::string_view name, std::string_view bytes, int form = LDIF_FORM_PLAIN) {
        if (form == LDIF_FORM_URL) return line({{name}, {":< "}, {bytes}}, name.size() + 3);
        const bool base64 = has_option(name, "binary") || needs_base64(bytes, mode_);
        return line({{name}, {base64 ? ":: " : ": "}, {bytes, base64, !base64 && keeps_utf8(mode_)}},
                    name.size() + (base64 ? 3 : 2));
    }
    bool value(std::string_view name, const ldif_value &v) { return value(name, bytes_of(v), v.form); }

    // "control: OID true" or "false", then its value as a value line writes it.
    bool control(const ldif_control &c) {
        const std::string_view critical = c.critical ? " true" : " false";
        if (!c.value.bytes) return line({{"control: "}, {c.oid}, {critical}}, 9);
        const std::string_view v = bytes_of(c.value);
        if (c.value.form == LDIF_FORM_URL) return line({{"control: "}, {c.oid}, {critical}, {":< "}, {v}}, 9);
        const bool base64 = needs_base64(v, mode_);
        return line({{"control: "}, {c.oid}, {critical}, {base64 ? ":: " : ": "}, {v, base64, !base64 && keeps_utf8(mode_)}},
                    9);
    }

    bool separator() { return line({{"-"}}, 1); }

    // Appends the text to the caller's buffer (or hands it over as a new one).
    char *append_to(char *buffer, int *count) {
        if (*count == 0) {
            *count = n_;
            char *out = text_ ? text_ : mem::duplicate("");
            text_ = nullptr;
            return out;
        }
        if (n_ > INT_MAX - *count) {
            errno = EOVERFLOW;
            return nullptr;
        }
        char *out = static_cast<char *>(mem::reallocate(buffer, static_cast<size_t>(*count) + static_cast<size_t>(n_) + 1));
        if (!out) return nullptr;
        std::memcpy(out + *count, text_, static_cast<size_t>(n_) + 1);
        *count += n_;
        return out;
    }

private:
    bool line(std::initializer_list<LinePart> parts, size_t head) {
        int n = 0;
        char *one = append_line(nullptr, &n, {parts.begin(), parts.size()}, head, width_);
        if (!one) return false;
        const bool added = add(one, n);
        std::free(one);
        return added;
    }

    bool add(const char *line, int n) {
        if (n > INT_MAX - n_) {
            errno = EOVERFLOW;
            return false;
        }
        const size_t need = static_cast<size_t>(n_) + static_cast<size_t>(n) + 1;
        if (need > room_) {
            const size_t room = std::max(need, 2 * room_);
            char *grown = static_cast<char *>(mem::reallocate(text_, room));
            if (!grown) return false;
            text_ = grown;
            room_ = room;
        }
        std::memcpy(text_ + n_, line, static_cast<size_t>(n) + 1);
        n_ += n;
        return true;
    }

    int mode_;
    size_t width_;
    char *text_ = nullptr;
    int n_ = 0;
    size_t room_ = 0;
};

bool write_body(Text &t, const ldif_record &r) {
    for (size_t i = 0; i < r.attr_count; ++i)
        if (!t.value(r.attrs[i].name, r.attrs[i].value)) return false;
    for (size_t i = 0; i < r.mod_count; ++i) {
        const ldif_mod &m = r.mods[i];
        if (!t.value(record::op_word(m.op), m.name)) return false;
        for (size_t k = 0; k < m.value_count; ++k)
            if (!t.value(m.name, m.values[k])) return false;
        if (!t.separator()) return false;
    }
    if (r.change != LDIF_CHANGE_MODRDN) return true;
    return t.value("newrdn", bytes_of(r.newrdn, r.newrdn_len)) && t.value("deleteoldrdn", r.deleteoldrdn ? "1" : "0") &&
           (!r.newsuperior || t.value("newsuperior", bytes_of(r.newsuperior, r.newsuperior_len)));
}

char *write_record(char *buffer, int *count, const ldif_record *r, int mode, int width) {
    if (!r || !count || *count < 0 || mode == LDIF_ENC_URL || width < 0 || width == 1 || refused(*r)) {
        errno = EINVAL;
        return nullptr;
    }
    Text t(mode, static_cast<size_t>(width));
    if (!t.value("dn", bytes_of(r->dn, r->dn_len))) return nullptr;
    for (size_t i = 0; i < r->control_count; ++i)
        if (!t.control(r->controls[i])) return nullptr;
    if (r->change != LDIF_CHANGE_NONE && !t.value("changetype", record::change_word(r->change))) return nullptr;
    if (!write_body(t, *r)) return nullptr;
    return t.append_to(buffer, count);
}

}  // namespace
}  // namespace kestrin::ldif

extern "C" char *ldif_write_record(char *buffer, int *count, const ldif_record *record, int mode, int width) noexcept {
    return kestrin::guarded<char *>(nullptr, [&] { return kestrin::ldif::write_record(buffer, count, record, mode, width); });
}
