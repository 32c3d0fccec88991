// The set loaders against each other: ldif2ekva_set, ldif2ekva_set_append
// (onto nothing and onto a set that has a record), the file loaders over the
// same bytes, and ldif_next_entry followed by ldif2ekva on each entry, with
// and without the object-class filter.
//
// Input: a flags byte (bit 0: filter on "person"; bit 2: the file loaders
// too, which cost a few MiB of buffer per load; bit 1: the file gets a
// 4 MiB comment and one more entry after the text, so that its text spans
// two pieces of the file reader; replays only, as it costs a 4 MiB file per
// run), then the text.
#include "fuzz.h"

using namespace fuzz;

namespace {

using Set = std::vector<Pairs>;

// Frees count records one by one (a set may hold a null before its end).
void free_set(ekva_pair ***set, int count) {
    if (!set) return;
    for (int i = 0; i < count; ++i) ekva_free(set[i]);
    std::free(set);
}

Set records(ekva_pair ***set, int from, int count, bool headers) {
    Set out;
    for (int i = from; i < count; ++i) {
        FUZZ_CHECK(set[i] != nullptr);
        if (headers) FUZZ_CHECK(multi_header(set[i]));
        out.push_back(entries(set[i]));
    }
    FUZZ_CHECK(set == nullptr || set[count] == nullptr);
    return out;
}

bool passes(ekva_pair **record, const char *class_name) {
    if (!class_name) return true;
    const char *first = ekva_get(record, "objectClass");
    return !first || std::strcmp(first, class_name) == 0;
}

// ldif_next_entry, then ldif2ekva on each entry and the filter; an entry
// that gives a record without entries is not kept, as the loaders keep none.
Set by_entries(const std::string &text, const char *class_name) {
    Set out;
    const char *cursor = text.c_str();
    char *entry = nullptr;
    int len = 0;
    while ((cursor = ldif_next_entry(cursor, 0, &entry, &len)) != nullptr) {
        if (!entry) continue;
        ekva_pair **record = ldif2ekva(entry, len);
        std::free(entry);
        if (!record) continue;
        if (passes(record, class_name) && ekva_count(record) > 0) out.push_back(entries(record));
        ekva_free(record);
    }
    return out;
}

// The same from the reference cutting and conversion.
Set by_reference(std::string_view text, const char *class_name) {
    Set out;
    for (size_t pos = 0;;) {
        const RefEntry e = ref_next_entry(text, pos);
        if (e.end) break;
        pos = e.next;
        if (!e.has_entry) continue;
        const auto pairs = ref_ldif2ekva(e.text);
        if (!pairs) continue;
        if (class_name) {
            const char *first = nullptr;
            for (const auto &[k, v] : *pairs)
                if (strcasecmp(k.c_str(), "objectClass") == 0) {
                    first = v ? v->c_str() : nullptr;
                    break;
                }
            if (first && std::strcmp(first, class_name) != 0) continue;
        }
        if (pairs->empty()) continue;
        out.push_back(*pairs);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    setup();
    if (size < 1) return 0;
    const char *class_name = (data[0] & 1) ? "person" : nullptr;
    const bool big = (data[0] & 6) == 6 && replaying;
    const std::string input = as_text(data + 1, size - 1);
    const std::string_view text = until_nul(input);
    if (has_blank_base64(input)) return 0;

    // ldif2ekva_set.
    ekva_pair ***set = nullptr;
    const int n = ldif2ekva_set(&set, input.c_str(), class_name);
    FUZZ_CHECK((set == nullptr) == (n == 0));
    const Set loaded = records(set, 0, n, true);
    free_set(set, n);

    const Set composed = by_entries(input, class_name);
    FUZZ_CHECK(loaded == composed);
    FUZZ_CHECK(composed == by_reference(text, class_name));

    // ldif2ekva_set_append: the same records (as copies), onto nothing and
    // after a record that stays as it was.
    {
        set = nullptr;
        int cap = 0;
        const int m = ldif2ekva_set_append(&set, input.c_str(), class_name, 0, &cap);
        FUZZ_CHECK(m == n);
        FUZZ_CHECK(records(set, 0, m, false) == loaded);
        free_set(set, m);

        set = nullptr;
        cap = 1;
        ekva_pair **first = ekva_create(2);
        ekva_add(&first, "dn", "cn=before", EKVA_MULTI);
        FUZZ_CHECK(ekva_set_push(&set, first, 0, &cap) == 1);
        ekva_free(first);
        const int k = ldif2ekva_set_append(&set, input.c_str(), class_name, 1, &cap);
        FUZZ_CHECK(k == n + 1);
        FUZZ_CHECK((entries(set[0]) == Pairs{{"dn", "cn=before"}}));
        FUZZ_CHECK(records(set, 1, k, false) == loaded);
        free_set(set, k);
    }

    // The file loaders give what ldif2ekva_set gives over the file's text,
    // which ends at its first NUL.
    if (!(data[0] & 4)) return 0;
    std::string file = input;
    if (big) file += "\n\n#" + std::string((4u << 20) + 100, 'x') + "\n\ndn: cn=tail\n";
    const std::string file_text(until_nul(file));
    set = nullptr;
    const int want = ldif2ekva_set(&set, file_text.c_str(), class_name);
    const Set expected = records(set, 0, want, true);
    free_set(set, want);

    MemoryFile mf(file);
    set = nullptr;
    const int f = ldif_file2ekva_set(&set, mf.path(), class_name);
    FUZZ_CHECK(f == want);
    FUZZ_CHECK(records(set, 0, f, true) == expected);
    free_set(set, f);
    {
        set = nullptr;
        int cap = 0;
        const int g = ldif_file2ekva_set_append(&set, mf.path(), class_name, 0, &cap);
        FUZZ_CHECK(g == want);
        FUZZ_CHECK(records(set, 0, g, false) == expected);
        free_set(set, g);
    }
    return 0;
}
