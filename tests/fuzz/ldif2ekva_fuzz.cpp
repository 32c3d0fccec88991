// ldif2ekva: the record for a text against the reference conversion, then
// ekva2ldif of that record against the reference writer, and that text read
// back once more.
#include "fuzz.h"

using namespace fuzz;

namespace {

void check_convert(const std::string &input) {
    const std::string_view text = until_nul(input);
    if (has_blank_base64(text)) return;
    ekva_pair **record = ldif2ekva(input.c_str(), static_cast<int>(text.size()));
    const auto want = ref_ldif2ekva(text);
    if (!want) {
        FUZZ_CHECK(record == nullptr);
        return;
    }
    FUZZ_CHECK(record != nullptr);
    FUZZ_CHECK(multi_header(record));
    FUZZ_CHECK(entries(record) == *want);

    char *back = ekva2ldif(record);
    FUZZ_CHECK(back != nullptr);
    FUZZ_CHECK(back == ref_ekva2ldif(*want));
    const std::string again(back);
    std::free(back);
    ekva_free(record);
    if (has_blank_base64(again)) return;
    ekva_pair **second = ldif2ekva(again.c_str(), 0);
    const auto want2 = ref_ldif2ekva(again);
    FUZZ_CHECK((second == nullptr) == !want2);
    if (second) FUZZ_CHECK(entries(second) == *want2);
    ekva_free(second);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    setup();
    check_convert(as_text(data, size));
    return 0;
}
