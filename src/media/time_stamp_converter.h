// Frame times: the arrival clock, kept strictly increasing by at least 1 ms
// per frame and pulled back toward the clock one step per frame after a
// burst. The RTP clock rate is not used; the RTP time stamp only tells
// whether a frame is a new instant.
#pragma once

#include <cstdint>

#include "ombrelix/host.h"

namespace telvaro {

class CTimeStampConverter {
public:
    static constexpr uint64_t kStep = 10000;  // 1 ms in FILETIME units

    CTimeStampConverter() = default;
    virtual ~CTimeStampConverter() = default;

    // Called once per completed frame with its RTP time stamp.
    void Convert(uint32_t rtpTimeStamp);
    // The same with the current UTC time given as a FILETIME (0: unknown).
    void Convert(uint32_t rtpTimeStamp, uint64_t now);
    // The last frame time once a frame was converted, else the current time.
    void GetTime(SYSTEMTIME& out) const;

    uint64_t GetLastFrameTime() const { return lastFrameTime_; }
    uint32_t GetLastTimeStamp() const { return lastTimeStamp_; }
    uint16_t GetCatchUpCount() const { return catchUp_; }

private:
    uint64_t lastFrameTime_ = 0;
    uint32_t lastTimeStamp_ = 0;
    uint16_t catchUp_ = 0;  // 1 ms steps by which frame times run ahead of the clock
};

}  // namespace telvaro
