#include "ekva/datetime.h"

#include <cstdio>
#include <cstring>
#include <ctime>

extern "C" int64_t datetime_parse(const char *text) noexcept {
    constexpr size_t kLength = 19;  // "YYYY-MM-DD hh:mm:ss"
    if (!text || std::strlen(text) < kLength) return -1;
    char buffer[kLength + 1];
    std::memcpy(buffer, text, kLength);
    buffer[kLength] = '\0';

    // Unread fields keep the values of the current local time.
    const time_t now = std::time(nullptr);
    struct tm when {};
    if (!localtime_r(&now, &when)) return -1;
    const int read = std::sscanf(buffer, "%04d-%02d-%02d %02d:%02d:%02d", &when.tm_year, &when.tm_mon,
                                 &when.tm_mday, &when.tm_hour, &when.tm_min, &when.tm_sec);
    if (read < 1) return -1;
    when.tm_year -= 1900;
    when.tm_mon -= 1;
    return static_cast<int64_t>(std::mktime(&when));
}
