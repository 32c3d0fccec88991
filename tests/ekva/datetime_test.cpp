#include "ekva/datetime.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace {

// A zone without daylight saving: local time is UTC + offset.
struct Zone {
    const char *tz;
    int64_t offset;  // seconds east of UTC
};

// Each test runs in a fixed zone (TZ set here, the caller's TZ put back
// afterwards), so local calendar times are fixed instants.
class Datetime : public testing::TestWithParam<Zone> {
protected:
    std::optional<std::string> saved_tz;

    void SetUp() override {
        if (const char *tz = std::getenv("TZ")) saved_tz = tz;
        setenv("TZ", GetParam().tz, 1);
        tzset();
    }
    void TearDown() override {
        if (saved_tz)
            setenv("TZ", saved_tz->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    // The instant at which this zone's clocks show the given UTC reading.
    static int64_t local(int64_t utc_reading) { return utc_reading - GetParam().offset; }
};

// Seconds since the epoch of some UTC readings.
constexpr int64_t k2024_02_29_13_05_09 = 1709211909;
constexpr int64_t k2025_01_01 = 1735689600;
constexpr int64_t k2023_03_01 = 1677628800;
constexpr int64_t k2024_01_02_00_01_00 = 1704153660;
constexpr int64_t k2024_05_10 = 1715299200;
constexpr int64_t kDay = 86400;

TEST_P(Datetime, ReadsLocalTime) {
    EXPECT_EQ(datetime_parse("2024-02-29 13:05:09"), local(k2024_02_29_13_05_09));
    EXPECT_EQ(datetime_parse("2024-02-29 13:05:09 extra"), local(k2024_02_29_13_05_09));
    EXPECT_EQ(datetime_parse("1970-01-01 00:00:00"), local(0));
}

TEST_P(Datetime, NormalisesOutOfRangeFields) {
    EXPECT_EQ(datetime_parse("2024-13-01 00:00:00"), local(k2025_01_01));
    EXPECT_EQ(datetime_parse("2023-02-29 00:00:00"), local(k2023_03_01));
    EXPECT_EQ(datetime_parse("2024-01-01 24:00:60"), local(k2024_01_02_00_01_00));
}

TEST_P(Datetime, Failures) {
    EXPECT_EQ(datetime_parse(nullptr), -1);
    EXPECT_EQ(datetime_parse("2024-02-29 13:05:0"), -1);  // 18 characters
    EXPECT_EQ(datetime_parse(""), -1);
    EXPECT_EQ(datetime_parse("abcdefghijklmnopqrs"), -1);
}

// Parses text; `now` is the clock reading during the call (retried until the
// clock did not tick over it, so that the expectation is exact).
int64_t parse_at_now(const char *text, int64_t &now) {
    for (;;) {
        const time_t before = std::time(nullptr);
        const int64_t got = datetime_parse(text);
        if (std::time(nullptr) == before) {
            now = static_cast<int64_t>(before);
            return got;
        }
    }
}

TEST_P(Datetime, UnreadTimeOfDayIsTheCurrentOne) {
    int64_t now = 0;
    const int64_t got = parse_at_now("2024-05-10T13:05:09", now);  // no blank after the day
    const int64_t time_of_day = ((now + GetParam().offset) % kDay + kDay) % kDay;
    EXPECT_EQ(got, local(k2024_05_10) + time_of_day);
}

// Only the year is read: today's day and time of day, in 2024, one month
// before today's month (a day that month lacks runs into the next one).
TEST_P(Datetime, OnlyTheYearReadKeepsTodayAndMovesTheMonthBack) {
    using namespace std::chrono;
    int64_t now = 0;
    const int64_t got = parse_at_now("2024/02/29 13:05:09", now);
    const sys_seconds shown{seconds{now + GetParam().offset}};  // the zone's wall clock, read as UTC
    const sys_days today = floor<days>(shown);
    const year_month_day date{today};
    const year_month moved = year{2024} / date.month() - months{1};
    const sys_days day = sys_days{moved / 1} + days{static_cast<unsigned>(date.day()) - 1};
    const int64_t want = (day + (shown - today)).time_since_epoch().count();
    EXPECT_EQ(got, local(want));
    EXPECT_GE(got, local(1701388800));  // 2023-12-01
    EXPECT_LT(got, local(1733097600));  // 2024-12-02
}

INSTANTIATE_TEST_SUITE_P(Zones, Datetime,
                         testing::Values(Zone{"UTC0", 0}, Zone{"EST5", -5 * 3600}, Zone{"UTC-2", 2 * 3600},
                                         Zone{"XXX-3", 3 * 3600}),
                         [](const testing::TestParamInfo<Zone> &info) {
                             const int64_t hours = info.param.offset / 3600;
                             return hours == 0 ? std::string("Utc")
                                               : (hours < 0 ? "West" : "East") + std::to_string(std::llabs(hours));
                         });

}  // namespace
