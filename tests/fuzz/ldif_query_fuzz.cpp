// Entry queries: ldif_entry_count_attr, ldif_entry_get_attr and
// ldif_entry_get_attr_values against a reference walk over the lines up to
// the first blank line, names compared as a whole without ASCII case.
//
// Input: the attribute name up to the first LF, then the entry text; the
// attribute's first byte also picks n for ldif_entry_get_attr.
#include "fuzz.h"

using namespace fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    setup();
    const std::string input = as_text(data, size);
    const size_t lf = input.find('\n');
    if (lf == std::string::npos) return 0;
    const std::string attr = input.substr(0, lf);
    if (attr.find('\0') != std::string::npos) return 0;
    const std::string entry = input.substr(lf + 1);
    const std::string_view text = until_nul(entry);
    bool unsure = false;
    const auto lines = ref_query_lines(text, unsure);
    if (unsure) return 0;

    std::vector<std::string> matches, texts;
    for (const RefQueryLine &l : lines ? *lines : std::vector<RefQueryLine>{}) {
        if (strcasecmp(l.name.c_str(), attr.c_str()) != 0 || l.name.size() != attr.size()) continue;
        matches.push_back(l.value);
        if (l.name != "dn") texts.emplace_back(l.value.c_str());
    }

    FUZZ_CHECK(ldif_entry_count_attr(entry.c_str(), 0, attr.c_str()) == static_cast<int>(matches.size()));

    const int n = attr.empty() ? 1 : static_cast<unsigned char>(attr[0]) % 4;  // 0 never matches
    char *value = reinterpret_cast<char *>(0x1);
    const int len = ldif_entry_get_attr(entry.c_str(), 0, attr.c_str(), &value, n);
    if (n >= 1 && static_cast<size_t>(n) <= matches.size()) {
        const std::string &want = matches[static_cast<size_t>(n - 1)];
        FUZZ_CHECK(value != nullptr && len == static_cast<int>(want.size()));
        FUZZ_CHECK(std::memcmp(value, want.data(), want.size()) == 0 && value[len] == '\0');
    } else {
        FUZZ_CHECK(value == nullptr && len == 0);
    }
    std::free(value);

    char **values = reinterpret_cast<char **>(0x1);
    const int count = ldif_entry_get_attr_values(entry.c_str(), 0, attr.c_str(), &values);
    FUZZ_CHECK(count == static_cast<int>(texts.size()));
    FUZZ_CHECK((values == nullptr) == texts.empty());
    FUZZ_CHECK(strings(values) == texts);
    strlist_free(values);

    FUZZ_CHECK(ldif_entry_count_attr(entry.c_str(), 0, nullptr) == 0);
    return 0;
}
