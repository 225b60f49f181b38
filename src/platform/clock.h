// Wall-clock and monotonic time. FILETIME values are 100 ns units since
// 1601-01-01 UTC, as the rest of the driver keeps its times.
#pragma once

#include <cstdint>

namespace telvaro {
namespace platform {

// Current UTC time as a FILETIME value; 0 if the clock cannot be read.
uint64_t CurrentFileTime();
// Milliseconds of a clock that never jumps; only differences mean anything.
uint64_t MonotonicMilliseconds();

}  // namespace platform
}  // namespace telvaro
