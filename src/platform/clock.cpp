#include "platform/clock.h"

#include <time.h>

namespace telvaro {
namespace platform {

namespace {

constexpr uint64_t kEpochDifferenceSeconds = 11644473600ULL;  // 1601-01-01 to 1970-01-01
constexpr uint64_t kTicksPerSecond = 10000000ULL;

}  // namespace

uint64_t CurrentFileTime() {
    timespec ts{};
    if (clock_gettime(CLOCK_REALTIME, &ts) != 0 || ts.tv_sec < 0) return 0;
    return (static_cast<uint64_t>(ts.tv_sec) + kEpochDifferenceSeconds) * kTicksPerSecond +
           static_cast<uint64_t>(ts.tv_nsec) / 100;
}

uint64_t MonotonicMilliseconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000ULL + static_cast<uint64_t>(ts.tv_nsec) / 1000000ULL;
}

}  // namespace platform
}  // namespace telvaro
