// MPEG-4 part 2 depacketizer (RFC 3016): rebuilds VOPs, keeps the stream's
// configuration headers and puts them in front of every I-VOP, and hands key
// frames over as "DIVX" (sized from the headers), all others as "DIVI".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media/media_parser.h"
#include "media/mp4_parser.h"

namespace telvaro {

class CMpeg4RTPMediaParser : public CRTPMediaParser {
public:
    CMpeg4RTPMediaParser(IDriver* driver, const std::string& allocationName);
    ~CMpeg4RTPMediaParser() override;

    void OnPacket(const RTPPacket* packet) override;
    void Reset() override;

    bool IsWaiting() const { return waiting_; }
    const std::vector<uint8_t>& GetInBandConfig() const { return inBandConfig_; }

private:
    void HandOver();

    // Packets are dropped until the first I-VOP.
    bool waiting_ = true;
    // The frame being assembled starts with an I-VOP.
    bool keyFrame_ = false;
    CMP4Parser headerParser_;
    // The configuration headers the stream itself sent last.
    std::vector<uint8_t> inBandConfig_;
};

}  // namespace telvaro
