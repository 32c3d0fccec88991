// key=value text: ekva_from_kv_text against a reference reading (pieces
// between separators, split at the first '=', the key's first word, the
// value unquoted), ekva_to_kv_text against a reference writing, and a round
// trip for records whose keys and values read back as they are.
//
// Input: a byte choosing the separator, then the text.
#include "fuzz.h"

using namespace fuzz;

namespace {

bool blank(char c) { return c == ' ' || c == '\t'; }

std::string first_word(std::string_view s) {
    size_t b = 0;
    while (b < s.size() && blank(s[b])) ++b;
    size_t e = b;
    while (e < s.size() && !blank(s[e])) ++e;
    return std::string(s.substr(b, e - b));
}

std::string unquote(std::string_view s) {
    size_t b = 0;
    while (b < s.size() && blank(s[b])) ++b;
    s.remove_prefix(b);
    if (s.empty() || (s[0] != '"' && s[0] != '\'')) {
        while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
        return std::string(s);
    }
    std::string out;
    for (size_t i = 1; i < s.size(); ++i) {
        if (s[i] == '"' || s[i] == '\'') {
            if (s[i - 1] != '\\') break;
            out.back() = s[i];  // \' and \" stand for the quote
            continue;
        }
        out += s[i];
    }
    return out;
}

Pairs ref_from_kv(std::string_view text, char sep) {
    Pairs out;
    size_t p = 0;
    while (p < text.size()) {
        size_t e = sep ? text.find(sep, p) : std::string_view::npos;
        if (e == std::string_view::npos) e = text.size();
        const std::string_view piece = text.substr(p, e - p);
        p = e + 1;
        if (piece.empty()) continue;
        const size_t eq = piece.find('=');
        if (eq == std::string_view::npos) continue;
        const std::string key = first_word(piece.substr(0, eq));
        if (key.empty()) continue;
        out.emplace_back(key, unquote(piece.substr(eq + 1)));
    }
    return out;
}

std::string ref_to_kv(const Pairs &pairs, char sep) {
    std::string out;
    for (size_t i = 0; i < pairs.size(); ++i) {
        if (i) out += sep;
        out += pairs[i].first + "=" + pairs[i].second.value_or("");
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    setup();
    if (size < 1) return 0;
    static constexpr char kSeps[] = {',', ';', '\n', '&', ' ', '\0'};
    const char sep = kSeps[data[0] % sizeof kSeps];
    const std::string input = as_text(data + 1, size - 1);
    const std::string_view text = until_nul(input);

    ekva_pair **record = ekva_from_kv_text(input.c_str(), sep);
    if (text.empty()) {
        FUZZ_CHECK(record == nullptr);
        return 0;
    }
    FUZZ_CHECK(record != nullptr);
    int cap = 0, mode = 0;
    FUZZ_CHECK(ekva_parse_header(record[0]->key, &cap, &mode) && mode == EKVA_MULTI &&
               cap == static_cast<int>(text.size()));
    const Pairs pairs = entries(record);
    FUZZ_CHECK(pairs == ref_from_kv(text, sep));

    char *kv = ekva_to_kv_text(record, sep ? sep : ',');
    FUZZ_CHECK(kv != nullptr && ref_to_kv(pairs, sep ? sep : ',') == kv);
    // Read back: the same pairs, when every value reads as it is written.
    bool clean = sep != '\0';
    for (const auto &[k, v] : pairs) {
        const std::string &s = *v;
        if (k.find(sep) != std::string::npos || s.find(sep) != std::string::npos ||
            (!s.empty() && (blank(s[0]) || s.back() == ' ' || s[0] == '"' || s[0] == '\'')))
            clean = false;
    }
    if (clean) {
        ekva_pair **back = ekva_from_kv_text(kv, sep);
        FUZZ_CHECK(pairs.empty() ? (back == nullptr || entries(back).empty()) : entries(back) == pairs);
        ekva_free(back);
    }
    std::free(kv);
    ekva_free(record);
    return 0;
}
