// Delimited fields: quoting, joining, and the one line parser behind both
// readers.
#include "util/guard_internal.h"
#include "ekva/csv.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "ekva/strlist.h"
#include "util/alloc_internal.h"
#include "util/line_internal.h"

namespace kestrin::csv {
namespace {

// Splits the line into fields, handing each to emit(std::string_view); false
// as soon as emit does.
template <class Emit>
bool parse(std::string_view line, char sep, Emit emit) {
    std::string field;
    bool quoted = false;
    const size_t n = line.size();
    auto at = [&](size_t i) { return i < n ? line[i] : '\0'; };
    for (size_t k = 0; k < n; ++k) {
        if (field.empty()) {
            quoted = line[k] == '"';
            if (quoted && ++k == n) break;  // a lone opening quote: an empty field
        }
        const char c = line[k], d = at(k + 1);
        if (!quoted && c == sep) {
            if (!emit(std::string_view(field))) return false;
            field.clear();
        } else if (c == '\\' && d == 'n' && k > 0 && line[k - 1] != '\\') {
            field += '\n';
            ++k;
        } else if (quoted && c == '"' && d == '"') {
            field += '"';
            ++k;
        } else if (quoted && c == '"' && d == sep && k + 1 < n) {
            if (!emit(std::string_view(field))) return false;
            field.clear();
            ++k;
        } else if (quoted && c == '"' && k + 1 == n) {
            // the closing quote
        } else {
            field += c;
        }
    }
    return emit(std::string_view(field));
}

// The fields as a string list; NULL when memory runs out. A line has at most
// one field more than it has separators, so the list is sized once.
char **parse_to_list(std::string_view line, char sep) {
    const size_t most = static_cast<size_t>(std::count(line.begin(), line.end(), sep)) + 1;
    auto *list = static_cast<char **>(mem::allocate((most + 1) * sizeof(char *)));
    if (!list) return nullptr;
    size_t count = 0;
    list[0] = nullptr;
    const bool ok = guarded(false, [&] {
        return parse(line, sep, [&](std::string_view field) {
            char *copy = mem::duplicate(field);
            if (!copy) return false;
            list[count++] = copy;
            list[count] = nullptr;
            return true;
        });
    });
    if (!ok) {
        strlist_free(list);
        return nullptr;
    }
    return list;
}

std::string quote(std::string_view text, char sep, bool force) {
    const bool enclose = force || text.find(sep) != std::string_view::npos;
    std::string out;
    out.reserve(text.size() + 2);
    if (enclose) out += '"';
    for (char c : text) {
        if (c == '"') {
            out += "\"\"";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    if (enclose) out += '"';
    return out;
}

char *quote_copy(std::string_view text, char sep, bool force) {
    return guarded<char *>(nullptr, [&] { return mem::duplicate(quote(text, sep, force)); });
}

}  // namespace
}  // namespace kestrin::csv

using namespace kestrin;

extern "C" char *csv_quote(const char *text, char sep, int force) noexcept {
    if (!text) return nullptr;
    return csv::quote_copy(text, sep, force != 0);
}

extern "C" char *csv_join(char **list, char sep, int force) noexcept {
    if (!list) return nullptr;
    return guarded<char *>(nullptr, [&] {
        std::string line;
        for (char **p = list; *p; ++p) {
            if (p != list) line += sep;
            line += csv::quote(*p, sep, force != 0);
        }
        return mem::duplicate(line);
    });
}

extern "C" char **csv_split(const char *text, char sep) noexcept { return strlist_split(text, sep); }

extern "C" char **csv_parse_line(const char *line, char sep) noexcept {
    if (!line) return nullptr;
    return csv::parse_to_list(line, sep);
}

extern "C" const char *csv_next_record(const char *pos, int max_len, char sep, char ***fields) noexcept {
    if (!pos || !*pos) return nullptr;
    const char *lf = std::strchr(pos, '\n');
    const char *next = lf ? lf + 1 : pos + std::strlen(pos);
    std::string_view line = line::without_lf_then_cr({pos, static_cast<size_t>(next - pos)});
    const size_t limit = max_len > 0 ? static_cast<size_t>(max_len) : 0;
    if (line.size() > limit) line = line.substr(0, limit);
    if (!line.empty() && fields) *fields = csv::parse_to_list(line, sep);
    return next;
}

extern "C" char **csv_read_record(FILE *stream, char sep, int skip_bom) noexcept {
    if (!stream || std::feof(stream)) return nullptr;
    line::Reader reader;
    std::string_view raw;
    if (!reader.next(stream, raw)) return nullptr;
    std::string_view text = line::without_crlf(raw);
    if (text.empty()) return nullptr;  // a blank line: consumed, nothing returned
    if (skip_bom && text.size() > 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    return csv::parse_to_list(line::as_text(text), sep);
}
