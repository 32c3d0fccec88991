#include "ekva/datetime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace {

// Three hours east of UTC, no daylight saving: local = UTC + 3 h.
class Datetime : public testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "XXX-3", 1);
        tzset();
    }
    void TearDown() override {
        unsetenv("TZ");
        tzset();
    }
    static int64_t local(int y, int mon, int d, int h, int min, int s) {
        struct tm t {};
        t.tm_year = y - 1900, t.tm_mon = mon - 1, t.tm_mday = d, t.tm_hour = h, t.tm_min = min, t.tm_sec = s;
        return static_cast<int64_t>(timegm(&t)) - 3 * 3600;
    }
};

TEST_F(Datetime, ReadsLocalTime) {
    EXPECT_EQ(datetime_parse("2024-02-29 13:05:09"), local(2024, 2, 29, 13, 5, 9));
    EXPECT_EQ(datetime_parse("2024-02-29 13:05:09 extra"), local(2024, 2, 29, 13, 5, 9));
    EXPECT_EQ(datetime_parse("1970-01-01 03:00:00"), 0);
}

TEST_F(Datetime, NormalisesOutOfRangeFields) {
    EXPECT_EQ(datetime_parse("2024-13-01 00:00:00"), local(2025, 1, 1, 0, 0, 0));
    EXPECT_EQ(datetime_parse("2023-02-29 00:00:00"), local(2023, 3, 1, 0, 0, 0));
    EXPECT_EQ(datetime_parse("2024-01-01 24:00:60"), local(2024, 1, 2, 0, 1, 0));
}

TEST_F(Datetime, Failures) {
    EXPECT_EQ(datetime_parse(nullptr), -1);
    EXPECT_EQ(datetime_parse("2024-02-29 13:05:0"), -1);  // 18 characters
    EXPECT_EQ(datetime_parse(""), -1);
    EXPECT_EQ(datetime_parse("abcdefghijklmnopqrs"), -1);
}

TEST_F(Datetime, OnlyTheYearReadKeepsTodayAndMovesTheMonthBack) {
    const time_t now = std::time(nullptr);
    struct tm t {};
    localtime_r(&now, &t);
    const int64_t got = datetime_parse("2024/02/29 13:05:09");
    // Expected: today's day and time of day, year 2024, month one less.
    t.tm_year = 2024 - 1900;
    t.tm_mon -= 1;
    const int64_t want = static_cast<int64_t>(mktime(&t));
    EXPECT_LE(std::llabs(got - want), 2);  // the clock may tick between the two readings
    EXPECT_NE(got, -1);
}

}  // namespace
