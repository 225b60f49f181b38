#include "thread/file_time.h"

#include "platform/clock.h"

namespace telvaro {

uint64_t GetCurrentFileTime() { return platform::CurrentFileTime(); }

bool FileTimeToSystemTimeUtc(uint64_t fileTime, SYSTEMTIME& out) {
    return platform::FileTimeToSystemTime(fileTime, out);
}

uint32_t ElapsedMilliseconds(uint64_t stamp) {
    uint64_t now = GetCurrentFileTime();
    if (stamp >= now) return 0;
    return static_cast<uint32_t>((now - stamp) / 10000);
}

}  // namespace telvaro
