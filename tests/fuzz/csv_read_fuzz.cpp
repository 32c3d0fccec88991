// csv_read_record over a memory stream: the fields of each line, call after
// call, against the reference parse of the line (its LF and one CR before
// it removed, a byte-order mark skipped when asked, the text up to a NUL).
//
// Input: a byte choosing the separator and whether to skip a BOM, then the
// stream.
#include "ekva/csv.h"

#include "fuzz.h"

using namespace fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    setup();
    if (size < 1) return 0;
    static constexpr char kSeps[] = {',', ';', '\t', '|'};
    const char sep = kSeps[data[0] % 4];
    const int skip_bom = (data[0] >> 2) & 1;
    std::string bytes = as_text(data + 1, size - 1);

    std::vector<std::vector<std::string>> want;
    for (size_t pos = 0; pos < bytes.size();) {
        const size_t lf = bytes.find('\n', pos);
        std::string_view line(bytes.data() + pos, (lf == std::string::npos ? bytes.size() : lf) - pos);
        pos = lf == std::string::npos ? bytes.size() : lf + 1;
        if (lf != std::string::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;  // a blank line: nothing
        if (skip_bom && line.size() > 3 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
        want.push_back(ref_csv_parse(line.substr(0, line.find('\0')), sep));
    }

    FILE *stream = memory_stream(bytes);
    if (!stream) return 0;
    std::vector<std::vector<std::string>> got;
    for (size_t calls = 0; !std::feof(stream); ++calls) {
        FUZZ_CHECK(calls <= bytes.size() + 1);
        char **fields = csv_read_record(stream, sep, skip_bom);
        if (!fields) continue;
        got.push_back(strings(fields));
        strlist_free(fields);
    }
    std::fclose(stream);
    FUZZ_CHECK(got == want);
    return 0;
}
