// ldif_next_entry: the entries cut out of the input, one call after another,
// against the reference cutting (lines before dn: skipped, folds joined, one
// CR removed, the blank line consumed); every entry text is well formed.
#include "fuzz.h"

using namespace fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    setup();
    const std::string input = as_text(data, size);
    const std::string_view text = until_nul(input);
    const char *cursor = input.c_str();
    size_t pos = 0;
    for (int calls = 0;; ++calls) {
        FUZZ_CHECK(calls <= static_cast<int>(text.size()) + 1);  // every call makes progress
        char *entry = reinterpret_cast<char *>(0x1);
        int len = -1;
        const char *next = ldif_next_entry(cursor, 0, &entry, &len);
        const RefEntry want = ref_next_entry(text, pos);
        if (want.end) {
            FUZZ_CHECK(next == nullptr && entry == nullptr && len == 0);
            break;
        }
        FUZZ_CHECK(next == input.c_str() + want.next);
        if (!want.has_entry) {
            FUZZ_CHECK(entry == nullptr && len == 0);
        } else {
            FUZZ_CHECK(entry != nullptr);
            FUZZ_CHECK(std::string_view(entry, static_cast<size_t>(len)) == want.text && entry[len] == '\0');
            // Well formed: a dn: line first, every line ends in LF, no blank line.
            FUZZ_CHECK(ref_is_dn(want.text) && want.text.back() == '\n');
            FUZZ_CHECK(want.text.find("\n\n") == std::string::npos);
            std::free(entry);
        }
        cursor = next;
        pos = want.next;
    }
    char *entry = nullptr;
    FUZZ_CHECK(ldif_next_entry(input.c_str(), 0, nullptr, nullptr) == nullptr);
    FUZZ_CHECK(ldif_next_entry(nullptr, 0, &entry, nullptr) == nullptr);
    return 0;
}
