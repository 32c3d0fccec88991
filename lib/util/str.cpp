#include "util/str.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "util/alloc_internal.h"

namespace kestrin::str {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view skip_blanks(std::string_view s) {
    while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
    return s;
}

std::string_view drop_trailing_spaces(std::string_view s) {
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

// The in-place operations only ever shorten s, so the result can be moved
// over it directly (memmove handles the overlap).
void replace_with(char *s, std::string_view result) {
    std::memmove(s, result.data(), result.size());
    s[result.size()] = '\0';
}

std::string_view first_word(std::string_view s) {
    s = skip_blanks(s);
    size_t end = 0;
    while (end < s.size() && !is_blank(s[end])) ++end;
    return s.substr(0, end);
}

bool is_quote(char c) { return c == '"' || c == '\''; }

void unquote(char *s) {
    const std::string_view rest = skip_blanks(s);
    if (rest.empty() || !is_quote(rest.front())) {
        replace_with(s, drop_trailing_spaces(rest));
        return;
    }
    // Inside quotes: copy up to the first quote not preceded by a backslash;
    // an escaped quote replaces its backslash.
    const char *in = rest.data() + 1;
    char *out = s;
    for (; *in; ++in) {
        if (is_quote(*in)) {
            if (in[-1] != '\\') break;
            out[-1] = *in;  // the backslash just written becomes the quote
            continue;
        }
        *out++ = *in;
    }
    *out = '\0';
}

}  // namespace
}  // namespace kestrin::str

using namespace kestrin::str;

extern "C" void str_trim(char *s) noexcept { replace_with(s, drop_trailing_spaces(skip_blanks(s))); }

extern "C" void str_first_word(char *s) noexcept { replace_with(s, first_word(s)); }

extern "C" void str_unquote(char *s) noexcept { unquote(s); }

extern "C" void str_split_key_value(const char *line, char *key_buf, char *value_buf) noexcept {
    const char *eq = std::strchr(line, '=');
    if (!eq) {
        key_buf[0] = value_buf[0] = '\0';
        return;
    }
    const size_t key_len = static_cast<size_t>(eq - line);
    std::memcpy(key_buf, line, key_len);
    key_buf[key_len] = '\0';
    std::strcpy(value_buf, eq + 1);
    str_first_word(key_buf);
    str_unquote(value_buf);
}

extern "C" int str_char_positions(const char *s, char c, int **positions) noexcept {
    const size_t len = std::strlen(s);
    int *found = static_cast<int *>(kestrin::mem::allocate((len + 3) * sizeof(int)));
    *positions = found;
    if (!found) return 0;
    int count = 0;
    found[0] = 0;
    for (size_t j = 0; c != '\0' && j < len; ++j) {
        if (s[j] == c) {
            found[count++] = static_cast<int>(j);
            found[count] = 0;
        }
    }
    return count;
}

extern "C" const char *path_extension(const char *name) noexcept {
    const char *dot = std::strrchr(name, '.');
    return dot && dot != name ? dot + 1 : "";
}

extern "C" int str_is_dotted_quad(const char *s) noexcept {
    if (!s) return 0;
    int dots = 0, digits = 0, value = 0;
    for (; *s; ++s) {
        if (*s == '.') {
            if (digits == 0 || ++dots == 4) return 0;
            digits = value = 0;
        } else if (*s >= '0' && *s <= '9') {
            value = value * 10 + (*s - '0');
            if (value > 255) return 0;
            ++digits;
        } else {
            return 0;
        }
    }
    return dots == 3 && digits > 0 ? 1 : 0;
}
