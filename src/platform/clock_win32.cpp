#include "platform/clock.h"

#include <windows.h>

namespace telvaro {
namespace platform {

uint64_t CurrentFileTime() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

uint64_t MonotonicMilliseconds() { return GetTickCount64(); }

}  // namespace platform
}  // namespace telvaro
