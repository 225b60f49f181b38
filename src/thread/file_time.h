// Time helpers in FILETIME units (100 ns since 1601-01-01 UTC).
#pragma once

#include <cstdint>

#include "ombrelix/host.h"

namespace telvaro {

// Current UTC time; 0 if it cannot be read.
uint64_t GetCurrentFileTime();
bool FileTimeToSystemTimeUtc(uint64_t fileTime, SYSTEMTIME& out);
// Milliseconds since the stamp; 0 when the stamp is now or in the future.
uint32_t ElapsedMilliseconds(uint64_t stamp);

}  // namespace telvaro
