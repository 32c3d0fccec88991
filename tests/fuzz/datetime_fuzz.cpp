// datetime_parse, in UTC: when all six fields of the first 19 characters
// read, the result is the normalised calendar time computed here without the
// C library; texts shorter than 19 characters or without a year give -1;
// what follows the 19 characters is ignored.
#include "ekva/datetime.h"

#include "fuzz.h"

using namespace fuzz;

namespace {

bool space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// "%Nd" as scanf reads it: blanks skipped, then a sign and digits, at most
// `width` characters of them.
bool read_int(std::string_view s, size_t &i, int width, int64_t &out) {
    while (i < s.size() && space(s[i])) ++i;
    size_t j = i;
    bool neg = false;
    if (j < s.size() && (s[j] == '-' || s[j] == '+') && width > 0) {
        neg = s[j] == '-';
        ++j;
    }
    int64_t v = 0;
    const size_t first = j;
    while (j < s.size() && j - i < static_cast<size_t>(width) && s[j] >= '0' && s[j] <= '9') v = v * 10 + (s[j++] - '0');
    if (j == first) return false;
    out = neg ? -v : v;
    i = j;
    return true;
}

// Days from 1970-01-01 to the first of the (normalised) month.
int64_t days_from_civil(int64_t y, int64_t m) {  // m: 1..12
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t mp = (m + 9) % 12;
    const int64_t doy = (153 * mp + 2) / 5;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    setup();
    const std::string input = as_text(data, size);
    const std::string_view text = until_nul(input);
    const int64_t got = datetime_parse(input.c_str());
    if (text.size() < 19) {
        FUZZ_CHECK(got == -1);
        return 0;
    }
    const std::string_view s = text.substr(0, 19);
    int64_t f[6] = {};
    static constexpr char kAfter[] = {'-', '-', ' ', ':', ':', '\0'};
    static constexpr int kWidth[] = {4, 2, 2, 2, 2, 2};
    size_t i = 0;
    int read = 0;
    for (; read < 6; ++read) {
        if (!read_int(s, i, kWidth[read], f[read])) break;
        if (read == 5) continue;
        if (kAfter[read] == ' ') {
            while (i < s.size() && space(s[i])) ++i;
        } else {
            if (i >= s.size() || s[i] != kAfter[read]) {
                ++read;
                break;
            }
            ++i;
        }
    }
    if (read == 0) {
        FUZZ_CHECK(got == -1);
        return 0;
    }
    // The characters after the first 19 change nothing.
    const std::string head(s);
    if (read < 6) return 0;  // the current time fills the other fields
    FUZZ_CHECK(datetime_parse(head.c_str()) == got);
    int64_t month = f[1] - 1;  // from 0
    int64_t year = f[0] + (month >= 0 ? month / 12 : -((11 - month) / 12));
    month -= (year - f[0]) * 12;
    const int64_t want = (days_from_civil(year, month + 1) + f[2] - 1) * 86400 + f[3] * 3600 + f[4] * 60 + f[5];
    if (want != -1) FUZZ_CHECK(got == want);
    return 0;
}
