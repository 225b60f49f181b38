#include "platform/clock.h"

#include <time.h>

namespace telvaro {
namespace platform {

namespace {

constexpr uint64_t kEpochDifferenceSeconds = 11644473600ULL;  // 1601-01-01 to 1970-01-01
constexpr uint64_t kTicksPerSecond = 10000000ULL;

// Days since 1601-01-01 to a civil date (proleptic Gregorian calendar).
void CivilFromDays(uint64_t days, uint16_t& year, uint16_t& month, uint16_t& day) {
    // Shift to 0000-03-01 based era arithmetic: 1601-01-01 is day 584694 from 0000-03-01.
    int64_t z = static_cast<int64_t>(days) + 584694;
    int64_t era = z / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t y = yoe + era * 400;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    int64_t d = doy - (153 * mp + 2) / 5 + 1;
    int64_t m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
    year = static_cast<uint16_t>(y);
    month = static_cast<uint16_t>(m);
    day = static_cast<uint16_t>(d);
}

}  // namespace

uint64_t CurrentFileTime() {
    timespec ts{};
    if (clock_gettime(CLOCK_REALTIME, &ts) != 0 || ts.tv_sec < 0) return 0;
    return (static_cast<uint64_t>(ts.tv_sec) + kEpochDifferenceSeconds) * kTicksPerSecond +
           static_cast<uint64_t>(ts.tv_nsec) / 100;
}

bool FileTimeToSystemTime(uint64_t fileTime, SYSTEMTIME& out) {
    if (fileTime > 0x7FFFFFFFFFFFFFFFULL) return false;
    uint64_t totalMs = fileTime / 10000;
    uint64_t days = totalMs / 86400000ULL;
    uint64_t msOfDay = totalMs % 86400000ULL;
    uint16_t year = 0, month = 0, day = 0;
    CivilFromDays(days, year, month, day);
    out.wYear = year;
    out.wMonth = month;
    out.wDay = day;
    out.wDayOfWeek = static_cast<uint16_t>((days + 1) % 7);  // 1601-01-01 was a Monday
    out.wHour = static_cast<uint16_t>(msOfDay / 3600000ULL);
    out.wMinute = static_cast<uint16_t>((msOfDay / 60000ULL) % 60);
    out.wSecond = static_cast<uint16_t>((msOfDay / 1000ULL) % 60);
    out.wMilliseconds = static_cast<uint16_t>(msOfDay % 1000ULL);
    return true;
}

SYSTEMTIME CurrentSystemTime() {
    SYSTEMTIME st{};
    FileTimeToSystemTime(CurrentFileTime(), st);
    return st;
}

uint64_t MonotonicMilliseconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000ULL + static_cast<uint64_t>(ts.tv_nsec) / 1000000ULL;
}

}  // namespace platform
}  // namespace telvaro
