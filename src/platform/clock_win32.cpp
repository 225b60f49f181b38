#include "platform/clock.h"

#include <windows.h>

namespace telvaro {
namespace platform {

uint64_t CurrentFileTime() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

bool FileTimeToSystemTime(uint64_t fileTime, SYSTEMTIME& out) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(fileTime & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(fileTime >> 32);
    return ::FileTimeToSystemTime(&ft, &out) != FALSE;
}

SYSTEMTIME CurrentSystemTime() {
    SYSTEMTIME st{};
    GetSystemTime(&st);
    return st;
}

uint64_t MonotonicMilliseconds() { return GetTickCount64(); }

}  // namespace platform
}  // namespace telvaro
