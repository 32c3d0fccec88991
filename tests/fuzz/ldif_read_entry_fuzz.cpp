// ldif_read_entry over a memory stream: the entries, call after call, against
// the reference reading of physical lines (lines before dn: skipped, one LF
// then one CR removed, folded lines kept as lines, a blank line ending the
// entry, also when it holds CRs only); NUL bytes are part of the stream.
#include "fuzz.h"

using namespace fuzz;

namespace {

// The entries the stream holds, as texts up to their first NUL (which is
// where a caller's view of the returned text ends).
std::vector<std::string> ref_entries(std::string_view bytes) {
    std::vector<std::string> out;
    std::string entry;
    bool started = false;
    size_t pos = 0;
    while (pos < bytes.size()) {
        const size_t lf = bytes.find('\n', pos);
        std::string_view line = bytes.substr(pos, lf == std::string_view::npos ? std::string_view::npos : lf - pos);
        pos = lf == std::string_view::npos ? bytes.size() : lf + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (only_crs(line)) {
            if (started) out.push_back(std::string(entry.c_str()));
            entry.clear();
            started = false;
            continue;
        }
        if (!started && !ref_is_dn(line)) continue;
        started = true;
        entry.append(line);
        entry += '\n';
    }
    if (started) out.push_back(std::string(entry.c_str()));
    return out;
}

// The entries of the stream read with a stream buffer of `buffer` bytes (0:
// the stream's own), checking that the reader keeps ending.
std::vector<std::string> read_all(std::string &bytes, size_t buffer) {
    std::vector<std::string> got;
    FILE *stream = memory_stream(bytes);
    if (!stream) return got;
    std::vector<char> storage(buffer + 1);
    if (buffer != 0) setvbuf(stream, storage.data(), _IOFBF, buffer);
    for (size_t calls = 0; !std::feof(stream); ++calls) {
        FUZZ_CHECK(calls <= bytes.size() + 1);
        char *entry = ldif_read_entry(stream);
        if (!entry) continue;
        got.emplace_back(entry);
        std::free(entry);
    }
    FUZZ_CHECK(ldif_read_entry(stream) == nullptr);
    std::fclose(stream);
    return got;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    setup();
    std::string bytes = as_text(data, size);
    const std::vector<std::string> want = ref_entries(bytes);
    FUZZ_CHECK(read_all(bytes, 0) == want);
    // A small buffer, picked by the length, puts its ends at other places:
    // inside lines, between a CR and its LF, between the LFs of a blank line.
    constexpr size_t kSmall[] = {1, 2, 3, 7, 16, 17, 33};
    FUZZ_CHECK(read_all(bytes, kSmall[size % std::size(kSmall)]) == want);
    FUZZ_CHECK(ldif_read_entry(nullptr) == nullptr);
    return 0;
}
