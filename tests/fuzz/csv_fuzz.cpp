// Delimited fields: csv_parse_line, csv_next_record and csv_split against
// references; csv_join (and csv_quote) read back by csv_parse_line.
//
// Input: a byte choosing the separator, a flags byte, then the text.
#include "ekva/csv.h"

#include "fuzz.h"

using namespace fuzz;

namespace {

constexpr char kSeps[] = {',', ';', '\t', '|', ' ', ':'};

void check_join(const std::vector<std::string> &fields, char sep, bool force) {
    if (fields.empty()) return;
    std::vector<char *> list;
    for (const auto &f : fields) list.push_back(const_cast<char *>(f.c_str()));
    list.push_back(nullptr);
    char *line = csv_join(list.data(), sep, force);
    FUZZ_CHECK(line != nullptr);
    // The line is the quoted fields joined by the separator.
    std::string want;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i) want += sep;
        char *q = csv_quote(fields[i].c_str(), sep, force);
        FUZZ_CHECK(q != nullptr);
        want += q;
        std::free(q);
    }
    FUZZ_CHECK(want == line);
    // Read back: the fields again, when nothing in them is read in another
    // way: a backslash, a line feed at the very start of the line, or a
    // quote in a field that is not enclosed (csv_quote doubles it all the
    // same, and an unenclosed field keeps both).
    bool readable = true;
    for (size_t i = 0; i < fields.size(); ++i) {
        const std::string &f = fields[i];
        const bool quoted = force || f.find(sep) != std::string::npos;
        if (f.find('\\') != std::string::npos || (!quoted && f.find('"') != std::string::npos) ||
            (i == 0 && !quoted && !f.empty() && f[0] == '\n'))
            readable = false;
    }
    if (readable) {
        char **back = csv_parse_line(line, sep);
        FUZZ_CHECK(strings(back) == fields);
        strlist_free(back);
    }
    std::free(line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    setup();
    if (size < 2) return 0;
    const char sep = kSeps[data[0] % sizeof kSeps];
    const uint8_t flags = data[1];
    const std::string input = as_text(data + 2, size - 2);
    const std::string_view text = until_nul(input);

    // The whole text as one line.
    char **fields = csv_parse_line(input.c_str(), sep);
    const auto want = ref_csv_parse(text, sep);
    FUZZ_CHECK(strings(fields) == want);
    strlist_free(fields);
    check_join(want, sep, flags & 1);
    {  // csv_quote
        char *q = csv_quote(input.c_str(), sep, flags & 1);
        FUZZ_CHECK(q != nullptr);
        std::string w;
        const bool enclose = (flags & 1) || text.find(sep) != std::string_view::npos;
        if (enclose) w += '"';
        for (char c : text) w += c == '"' ? std::string("\"\"") : c == '\n' ? std::string("\\n") : std::string(1, c);
        if (enclose) w += '"';
        FUZZ_CHECK(w == q);
        std::free(q);
    }

    // Line by line, cut at max_len.
    const int max_len = (flags >> 1) % 32 == 0 ? 1 << 20 : (flags >> 1) % 32;
    const char *pos = input.c_str();
    size_t at = 0;
    for (;;) {
        char **f = nullptr;
        const char *next = csv_next_record(pos, max_len, sep, &f);
        if (at >= text.size()) {
            FUZZ_CHECK(next == nullptr && f == nullptr);
            break;
        }
        const size_t lf = text.find('\n', at);
        const size_t end = lf == std::string_view::npos ? text.size() : lf;
        std::string_view line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        line = line.substr(0, static_cast<size_t>(max_len));
        at = lf == std::string_view::npos ? text.size() : lf + 1;
        FUZZ_CHECK(next == input.c_str() + at);
        if (line.empty()) {
            FUZZ_CHECK(f == nullptr);
        } else {
            FUZZ_CHECK(strings(f) == ref_csv_parse(line, sep));
        }
        strlist_free(f);
        pos = next;
    }

    // csv_split: the non-empty pieces, at most 1000.
    char **pieces = csv_split(input.c_str(), sep);
    std::vector<std::string> wp;
    for (size_t p = 0; p <= text.size() && wp.size() < 1000;) {
        size_t e = text.find(sep, p);
        if (e == std::string_view::npos) e = text.size();
        if (e > p) wp.emplace_back(text.substr(p, e - p));
        p = e + 1;
    }
    FUZZ_CHECK((pieces == nullptr) == wp.empty());
    FUZZ_CHECK(strings(pieces) == wp);
    strlist_free(pieces);
    return 0;
}
