// Questions about one LDIF entry text, answered by walking its lines.
#include <strings.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "util/guard_internal.h"
#include "ekva/strlist.h"
#include "ldif/ldif.h"
#include "ldif/ldif_internal.h"
#include "util/alloc_internal.h"

namespace kestrin::ldif {
namespace {

bool same_name(std::string_view name, const char *attr) {
    return name.size() == std::strlen(attr) && strncasecmp(name.data(), attr, name.size()) == 0;
}

// Walks the lines up to the first blank line, calling visit(line) for each
// line with a name until it returns false; a line with an empty name (": x",
// or one of CRs only) is passed over. A line that cannot be parsed ends the
// walk. False when the text is empty or its first line cannot be parsed (the
// operation's message has been written then).
template <class Visit>
bool walk(const char *entry, const char *message, Visit visit) {
    Workspace ws;
    Line line;
    bool first = true;
    for (const char *cursor = entry; cursor && *cursor; first = false) {
        const Extent e = logical_line(cursor);
        if (is_blank(e)) return true;
        if (parse_extent(e, ws, line) != Parsed::kLine) {
            if (!first) return true;
            break;
        }
        cursor = e.next;
        if (!line.name.empty() && !visit(line)) return true;
    }
    if (!first) return true;  // walked to the end of the text
    kestrin::message("%s", message);
    return false;
}

constexpr char kCountMessage[] = "ldif_entry_count_attr: failed to parse ldif buffer\n";
constexpr char kGetMessage[] = "ldif_entry_get_attr: failed to parse ldif buffer\n";

}  // namespace
}  // namespace kestrin::ldif

using namespace kestrin;

extern "C" int ldif_entry_count_attr(const char *entry, int length, const char *attr) noexcept {
    (void)length;  // the text is NUL-terminated
    if (!attr) return 0;
    int count = 0;
    guarded([&] {
        ldif::walk(entry, ldif::kCountMessage, [&](const ldif::Line &line) {
            count += ldif::same_name(line.name, attr);
            return true;
        });
    });
    return count;
}

extern "C" int ldif_entry_get_attr(const char *entry, int length, const char *attr, char **value, int n) noexcept {
    (void)length;
    if (!value) return 0;
    *value = nullptr;
    if (!attr) return 0;
    int result = 0;
    guarded([&] {
        ldif::walk(entry, ldif::kGetMessage, [&](const ldif::Line &line) {
            if (!ldif::same_name(line.name, attr) || --n != 0) return true;
            if (line.value.size() > static_cast<size_t>(INT_MAX)) return false;
            *value = mem::duplicate(line.value);  // the bytes, with a NUL after them
            result = *value ? static_cast<int>(line.value.size()) : 0;
            return false;
        });
    });
    return result;
}

extern "C" int ldif_entry_get_attr_values(const char *entry, int length, const char *attr, char ***values) noexcept {
    (void)length;
    if (!values) return 0;
    *values = nullptr;
    if (!attr) return 0;
    char **list = nullptr;
    int count = 0, capacity = 255;
    guarded([&] {
        ldif::walk(entry, ldif::kGetMessage, [&](const ldif::Line &line) {
            if (line.name == "dn" || !ldif::same_name(line.name, attr)) return true;
            // A text copy: it ends at the value's first NUL byte.
            const std::string text(line.value.substr(0, line.value.find('\0')));
            const int before = count;
            count = strlist_push(&list, text.c_str(), count, &capacity);
            return count != before;
        });
    });
    *values = list;
    return count;
}
