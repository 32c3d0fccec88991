// Word and line reading: stream_read_words over a memory stream, call after
// call, and file_read_lines over the same bytes as a file, against
// references.
#include "util/file.h"

#include "fuzz.h"

using namespace fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    setup();
    std::string bytes = as_text(data, size);

    // Physical lines: each without its LF; a last line without LF counts.
    std::vector<std::string> lines;
    for (size_t pos = 0; pos < bytes.size();) {
        const size_t lf = bytes.find('\n', pos);
        const size_t end = lf == std::string::npos ? bytes.size() : lf;
        lines.push_back(bytes.substr(pos, end - pos));
        pos = end + 1;
    }

    std::vector<std::vector<std::string>> want;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string_view l = lines[i];
        const bool had_lf = i + 1 < lines.size() || bytes.back() == '\n';
        if (had_lf && !l.empty() && l.back() == '\r') l.remove_suffix(1);
        if (auto w = ref_words(l)) want.push_back(*w);
    }
    if (FILE *stream = memory_stream(bytes)) {
        std::vector<std::vector<std::string>> got;
        for (size_t calls = 0; !std::feof(stream); ++calls) {
            FUZZ_CHECK(calls <= bytes.size() + 1);
            char **words = stream_read_words(stream);
            if (!words) continue;
            got.push_back(strings(words));
            strlist_free(words);
        }
        std::fclose(stream);
        FUZZ_CHECK(got == want);
    }

    MemoryFile file(bytes);
    int count = -1;
    char **list = file_read_lines(file.path(), &count);
    std::vector<std::string> want_lines;
    for (const auto &l : lines) want_lines.emplace_back(l.c_str());  // a line ends at its first NUL
    FUZZ_CHECK((list == nullptr) == want_lines.empty());
    FUZZ_CHECK(count == static_cast<int>(want_lines.size()));
    FUZZ_CHECK(strings(list) == want_lines);
    strlist_free(list);
    return 0;
}
