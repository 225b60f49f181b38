#include "thread/file_time.h"

#include "platform/clock.h"

namespace telvaro {

namespace {

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

uint64_t GetCurrentFileTime() { return platform::CurrentFileTime(); }

bool FileTimeToSystemTimeUtc(uint64_t fileTime, SYSTEMTIME& out) {
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

uint32_t ElapsedMilliseconds(uint64_t stamp) {
    uint64_t now = GetCurrentFileTime();
    if (stamp >= now) return 0;
    return static_cast<uint32_t>((now - stamp) / 10000);
}

}  // namespace telvaro
