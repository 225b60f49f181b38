// H.264 depacketizer (RFC 6184, non-interleaved mode): rebuilds access units
// as an Annex B byte stream with 3-byte start codes, ends each with an
// access unit delimiter, sizes key frames from their sequence parameter set
// and hands them over as "H264", all other frames as "I264".
#pragma once

#include <cstdint>
#include <string>

#include "media/media_parser.h"

namespace telvaro {

class CH264RTPMediaParser : public CRTPMediaParser {
public:
    CH264RTPMediaParser(IDriver* driver, const std::string& allocationName);
    ~CH264RTPMediaParser() override;

    void OnPacket(const RTPPacket* packet) override;
    void Reset() override;
    // Keeps the session's parameter sets when their sequence parameter set
    // gives a picture size; otherwise synthesizes both.
    void SetMediaConfig(const MediaConfig& config) override;

    bool IsWaiting() const { return waiting_; }

private:
    bool AppendPayload(const uint8_t* payload, size_t length);
    bool AppendAggregate(const uint8_t* payload, size_t length);
    bool AppendFragment(const uint8_t* payload, size_t length);
    void AppendNal(const uint8_t* nal, size_t length);
    void AppendByteStream(const uint8_t* data, size_t length);
    void NoteNal(uint8_t header);
    void InsertParameterSets();
    bool SynthesizeParameterSets();
    void HandOver();
    void StartFrame();

    // No frame is handed over until one whose sequence parameter set parses.
    bool waiting_ = true;
    // The stream has carried a parameter set of its own, so sets made up
    // here would only override the right ones.
    bool inBandParameterSets_ = false;
    // The frame holds something other than SEI messages.
    bool frameHasContent_ = false;
    // An FU-A has begun whose end has not come yet.
    bool fragmentOpen_ = false;
};

}  // namespace telvaro
