#include "platform/clock.h"

#include <windows.h>

namespace telvaro {
namespace platform {

uint64_t CurrentFileTime() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// The performance counter, not GetTickCount64: the tick count moves in steps
// of 10 to 16 ms, so a bound measured on it could end up to a step early.
uint64_t MonotonicMilliseconds() {
    static const uint64_t frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<uint64_t>(f.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const uint64_t ticks = static_cast<uint64_t>(now.QuadPart);
    return ticks / frequency * 1000 + ticks % frequency * 1000 / frequency;
}

}  // namespace platform
}  // namespace telvaro
