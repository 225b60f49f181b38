#include "thread/file_time.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

struct Case {
    uint64_t fileTime;
    uint16_t year, month, day, dayOfWeek, hour, minute, second, ms;
};

TEST(FileTime, ConvertsToTheUtcCalendar) {
    const Case cases[] = {
        {0ULL, 1601, 1, 1, 1, 0, 0, 0, 0},
        {116444736000000000ULL, 1970, 1, 1, 4, 0, 0, 0, 0},
        {125911584000000000ULL, 2000, 1, 1, 6, 0, 0, 0, 0},
        // 2000-02-29 23:59:59.999 (leap day)
        {125911584000000000ULL + (59ULL * 86400 + 86399) * 10000000ULL + 9990000ULL, 2000, 2, 29, 2, 23, 59, 59, 999},
        // 2026-12-08 12:34:56.789
        {116444736000000000ULL + 1796733296ULL * 10000000ULL + 7890000ULL, 2026, 12, 8, 2, 12, 34, 56, 789},
    };
    for (const auto& c : cases) {
        SYSTEMTIME st{};
        ASSERT_TRUE(telvaro::FileTimeToSystemTimeUtc(c.fileTime, st)) << c.fileTime;
        EXPECT_EQ(st.wYear, c.year) << c.fileTime;
        EXPECT_EQ(st.wMonth, c.month) << c.fileTime;
        EXPECT_EQ(st.wDay, c.day) << c.fileTime;
        EXPECT_EQ(st.wDayOfWeek, c.dayOfWeek) << c.fileTime;
        EXPECT_EQ(st.wHour, c.hour) << c.fileTime;
        EXPECT_EQ(st.wMinute, c.minute) << c.fileTime;
        EXPECT_EQ(st.wSecond, c.second) << c.fileTime;
        EXPECT_EQ(st.wMilliseconds, c.ms) << c.fileTime;
    }
    SYSTEMTIME st{};
    EXPECT_FALSE(telvaro::FileTimeToSystemTimeUtc(0x8000000000000000ULL, st));
}

TEST(FileTime, CurrentTimeMatchesTheSystemClock) {
    uint64_t now = telvaro::GetCurrentFileTime();
    uint64_t expected = (static_cast<uint64_t>(std::time(nullptr)) + 11644473600ULL) * 10000000ULL;
    EXPECT_LT(now > expected ? now - expected : expected - now, 20000000ULL);  // within 2 s
}

TEST(FileTime, ElapsedMillisecondsIsZeroForNowAndFutureStamps) {
    uint64_t now = telvaro::GetCurrentFileTime();
    EXPECT_EQ(telvaro::ElapsedMilliseconds(now + 10000000ULL), 0u);
    uint32_t elapsed = telvaro::ElapsedMilliseconds(now - 5000ULL * 10000ULL);
    EXPECT_GE(elapsed, 5000u);
    EXPECT_LT(elapsed, 6000u);
}

}  // namespace
