#include "media/time_stamp_converter.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "thread/file_time.h"

namespace {

using telvaro::CTimeStampConverter;

constexpr uint64_t kMs = 10000;
// 2000-01-01 00:00:00 UTC as a FILETIME.
constexpr uint64_t kStart = 125911584000000000ULL;

TEST(TimeStampConverter, FirstFrameTakesTheArrivalTime) {
    CTimeStampConverter c;
    c.Convert(9000, kStart);
    EXPECT_EQ(c.GetLastFrameTime(), kStart);
    EXPECT_EQ(c.GetLastTimeStamp(), 9000u);
    EXPECT_EQ(c.GetCatchUpCount(), 0);
}

TEST(TimeStampConverter, UnknownClockOrZeroTimeStampChangesNothing) {
    CTimeStampConverter c;
    c.Convert(9000, 0);
    c.Convert(0, kStart);
    EXPECT_EQ(c.GetLastFrameTime(), 0u);
    EXPECT_EQ(c.GetLastTimeStamp(), 0u);
    c.Convert(9000, kStart);
    c.Convert(0, kStart + 40 * kMs);
    c.Convert(12600, 0);
    EXPECT_EQ(c.GetLastFrameTime(), kStart);
    EXPECT_EQ(c.GetLastTimeStamp(), 9000u);
}

struct Step {
    const char* name;
    uint32_t timeStamp;
    uint64_t now;        // arrival, relative to kStart
    uint64_t frameTime;  // expected, relative to kStart
    uint16_t catchUp;
};

void RunSteps(const Step* steps, size_t count) {
    CTimeStampConverter c;
    c.Convert(1000, kStart);
    for (size_t i = 0; i < count; ++i) {
        SCOPED_TRACE(steps[i].name);
        c.Convert(steps[i].timeStamp, kStart + steps[i].now);
        EXPECT_EQ(c.GetLastFrameTime() - kStart, steps[i].frameTime);
        EXPECT_EQ(c.GetCatchUpCount(), steps[i].catchUp);
        EXPECT_EQ(c.GetLastTimeStamp(), steps[i].timeStamp);
    }
}

TEST(TimeStampConverter, HundredTicksAreOneInstantAndHundredAndOneANewOne) {
    const Step same[] = {{"100 ticks, 40 ms later", 1100, 40 * kMs, 1 * kMs, 1}};
    RunSteps(same, 1);
    const Step next[] = {{"101 ticks, 40 ms later", 1101, 40 * kMs, 40 * kMs, 0}};
    RunSteps(next, 1);
}

TEST(TimeStampConverter, ClockNotAheadByMoreThanOneMillisecondSteps) {
    const Step steps[] = {
        {"exactly 1 ms later", 4600, 1 * kMs, 1 * kMs, 1},
        {"clock behind the frame time", 8200, 0, 2 * kMs, 2},
    };
    RunSteps(steps, 2);
}

TEST(TimeStampConverter, WrapAroundCountsAsTheSameInstant) {
    CTimeStampConverter c;
    c.Convert(0xFFFFF000u, kStart);
    c.Convert(0x00000200u, kStart + 40 * kMs);
    EXPECT_EQ(c.GetLastFrameTime(), kStart + kMs);
    EXPECT_EQ(c.GetLastTimeStamp(), 0x00000200u);
    EXPECT_EQ(c.GetCatchUpCount(), 1);
}

TEST(TimeStampConverter, BurstIsPulledBackOneStepPerFrame) {
    const Step steps[] = {
        // Four more frames arrive in the same instant as the first.
        {"burst 2", 4600, 0, 1 * kMs, 1},
        {"burst 3", 8200, 0, 2 * kMs, 2},
        {"burst 4", 11800, 0, 3 * kMs, 3},
        {"burst 5", 15400, 0, 4 * kMs, 4},
        // Then the normal pace again: one step back toward the clock each.
        {"paced 1", 19000, 40 * kMs, 39 * kMs, 3},
        {"paced 2", 22600, 80 * kMs, 79 * kMs, 2},
        {"paced 3", 26200, 120 * kMs, 119 * kMs, 1},
        {"paced 4", 29800, 160 * kMs, 159 * kMs, 0},
        {"on the clock", 33400, 200 * kMs, 200 * kMs, 0},
        {"burst 6", 37000, 200 * kMs, 201 * kMs, 1},
        // The clock a millisecond and a half ahead: a whole millisecond on.
        {"clock just ahead", 40600, 202 * kMs + kMs / 2, 202 * kMs, 0},
    };
    RunSteps(steps, sizeof(steps) / sizeof(steps[0]));
}

TEST(TimeStampConverter, GetTimeGivesTheLastFrameTimeOnceThereIsOne) {
    CTimeStampConverter c;
    SYSTEMTIME before{};
    c.GetTime(before);
    SYSTEMTIME now{};
    ASSERT_TRUE(telvaro::FileTimeToSystemTimeUtc(telvaro::GetCurrentFileTime(), now));
    EXPECT_EQ(before.wYear, now.wYear);
    EXPECT_NE(before.wYear, 2000);

    // 1234.567 s after 2000-01-01 00:00:00.
    c.Convert(5000, kStart + 1234567 * kMs);
    SYSTEMTIME t{};
    c.GetTime(t);
    EXPECT_EQ(t.wYear, 2000);
    EXPECT_EQ(t.wMonth, 1);
    EXPECT_EQ(t.wDay, 1);
    EXPECT_EQ(t.wHour, 0);
    EXPECT_EQ(t.wMinute, 20);
    EXPECT_EQ(t.wSecond, 34);
    EXPECT_EQ(t.wMilliseconds, 567);
}

}  // namespace
