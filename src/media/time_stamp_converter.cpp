#include "media/time_stamp_converter.h"

#include <algorithm>

#include "thread/file_time.h"

namespace telvaro {

namespace {

// Time stamps at most this many ticks apart are taken as the same instant.
constexpr int64_t kSameInstantTicks = 100;

}  // namespace

void CTimeStampConverter::Convert(uint32_t rtpTimeStamp) { Convert(rtpTimeStamp, GetCurrentFileTime()); }

void CTimeStampConverter::Convert(uint32_t rtpTimeStamp, uint64_t now) {
    if (now == 0 || rtpTimeStamp == 0) return;
    if (lastFrameTime_ == 0 || lastTimeStamp_ == 0) {
        lastFrameTime_ = now;
    } else {
        // No wrap-around correction: after a wrap the difference is large and
        // negative, which counts as the same instant.
        const int64_t delta = static_cast<int64_t>(rtpTimeStamp) - static_cast<int64_t>(lastTimeStamp_);
        const bool clockNotAhead = now <= lastFrameTime_ || now - lastFrameTime_ <= kStep;
        if (delta <= kSameInstantTicks || clockNotAhead) {
            lastFrameTime_ += kStep;
            ++catchUp_;
        } else if (catchUp_ > 0) {
            // A step back toward the clock, but never less than a millisecond
            // after the last frame: a host sees milliseconds, and a frame time
            // only a fraction of one later would read as the same instant.
            lastFrameTime_ = std::max(now - kStep, lastFrameTime_ + kStep);
            --catchUp_;
        } else {
            lastFrameTime_ = now;
        }
    }
    lastTimeStamp_ = rtpTimeStamp;
}

void CTimeStampConverter::GetTime(SYSTEMTIME& out) const {
    if (lastFrameTime_ != 0 && lastTimeStamp_ != 0 && FileTimeToSystemTimeUtc(lastFrameTime_, out)) return;
    FileTimeToSystemTimeUtc(GetCurrentFileTime(), out);
}

}  // namespace telvaro
