// Absolute deadlines on the monotonic clock, for timed condition waits
// (conditions are made with CLOCK_MONOTONIC).
#pragma once

#include <time.h>

#include <cstdint>

namespace telvaro {
namespace platform {

inline timespec MonotonicDeadline(uint32_t timeoutMs) {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    ts.tv_sec += timeoutMs / 1000;
    ts.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (ts.tv_nsec >= 1000000000L) {
        ts.tv_sec += 1;
        ts.tv_nsec -= 1000000000L;
    }
    return ts;
}

}  // namespace platform
}  // namespace telvaro
