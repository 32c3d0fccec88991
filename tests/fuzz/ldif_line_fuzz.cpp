// ldif_parse_line: every logical line of the input against the reference
// reading of the line forms, folds and carriage returns.
#include "fuzz.h"

using namespace fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    setup();
    const std::string input = as_text(data, size);
    const std::string_view text = until_nul(input);
    const char *cursor = input.c_str();
    size_t pos = 0;
    for (;;) {
        char *name = nullptr, *value = nullptr;
        int len = -1, binary = -1;
        const char *next = ldif_parse_line(cursor, 0, &name, &value, &len, &binary);
        if (pos >= text.size()) {
            FUZZ_CHECK(next == nullptr);
            FUZZ_CHECK(binary == 0);
            break;
        }
        const RefLine line = ref_logical_line(text, pos);
        const RefParsed want = ref_parse_joined(line.joined);
        if (blank_base64(line.joined)) {
            if (next) {
                std::free(name);
                std::free(value);
            }
            break;  // how whitespace alone reads is not fixed
        }
        if (!want.ok) {
            FUZZ_CHECK(next == nullptr);
            FUZZ_CHECK(binary == 0);
            break;
        }
        FUZZ_CHECK(next == input.c_str() + line.next);
        FUZZ_CHECK(name != nullptr && value != nullptr);
        FUZZ_CHECK(want.name == name);
        FUZZ_CHECK(len == static_cast<int>(want.value.size()));
        FUZZ_CHECK(std::memcmp(value, want.value.data(), want.value.size()) == 0 && value[len] == '\0');
        FUZZ_CHECK(binary == (want.binary ? 1 : 0));
        std::free(name);
        std::free(value);
        cursor = next;
        pos = line.next;
    }
    // NULL out-parameters are refused, not written through.
    int binary = 7;
    FUZZ_CHECK(ldif_parse_line(input.c_str(), 0, nullptr, nullptr, nullptr, &binary) == nullptr);
    FUZZ_CHECK(binary == 0);
    return 0;
}
