// Common base of the depacketizers: the frame buffer, the sequence check,
// the overflow guard, frame times, the session's decoder configuration and
// the hand-over of finished frames to the host's allocator and the channel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/failure_reason.h"
#include "core/idriver.h"
#include "media/time_stamp_converter.h"
#include "ombrelix/host.h"
#include "core/media_config.h"
#include "rtp/rtp_packet.h"

namespace telvaro {

// First character in the lowest byte.
constexpr uint32_t MakeFourCC(char a, char b, char c, char d) {
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) | (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8) |
           (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24);
}

constexpr uint32_t kFourCCH264 = MakeFourCC('H', '2', '6', '4');  // H.264 frame with a sequence parameter set
constexpr uint32_t kFourCCI264 = MakeFourCC('I', '2', '6', '4');  // any other H.264 frame
constexpr uint32_t kFourCCDIVX = MakeFourCC('D', 'I', 'V', 'X');  // MPEG-4 frame with its configuration
constexpr uint32_t kFourCCDIVI = MakeFourCC('D', 'I', 'V', 'I');  // any other MPEG-4 frame
constexpr uint32_t kFourCCJPEG = MakeFourCC('J', 'P', 'E', 'G');

// Sample capacity for a frame: rounded up to a few fixed sizes so that the
// host can recycle its samples; frames above 128 KiB ask for their length.
uint32_t SampleCapacity(uint32_t frameLength);
// The host's picture size class: 1 below 200 pixels wide, 2 below 400, 3 for
// wide pictures below 1024, 4 otherwise.
uint32_t SizeClass(uint32_t width, uint32_t height);

// The channel that receives finished frames.
class IMediaParserClient {
public:
    // False: the frame was not taken, and the parser starts over.
    virtual bool OnFrame(ipcapture::IMediaSample* sample) = 0;
    // Width and height the channel asked the camera for.
    virtual std::pair<uint32_t, uint32_t> GetResolution() = 0;

protected:
    ~IMediaParserClient() = default;
};

class CRTPMediaParser {
public:
    // The most a sender can make a depacketizer hold: a frame that grows
    // beyond it (a marker bit that never comes) is dropped with the
    // overflow message.
    static constexpr size_t kMaxFrameSize = 10485760;

    CRTPMediaParser(IDriver* driver, const std::string& allocationName);
    virtual ~CRTPMediaParser();
    CRTPMediaParser(const CRTPMediaParser&) = delete;
    CRTPMediaParser& operator=(const CRTPMediaParser&) = delete;

    // One packet of the stream, in arrival order, on the receiving thread.
    virtual void OnPacket(const RTPPacket* packet) = 0;
    // Drops the partial frame and waits for the next key frame.
    virtual void Reset() = 0;
    virtual void SetMediaConfig(const MediaConfig& config);

    void SetClient(IMediaParserClient* client) { client_ = client; }
    uint32_t GetWidth() const { return width_; }
    uint32_t GetHeight() const { return height_; }
    const MediaConfig& GetMediaConfig() const { return config_; }
    const CTimeStampConverter& GetTimeStampConverter() const { return timeStamps_; }

    // Why data of the stream was last refused or dropped, for a log; empty
    // while nothing was. Packets lost on the way are not counted here: a
    // sequence gap, and what it leaves without its start, only resets the
    // parser. Any thread may ask.
    FailureReason LastFailure() const;
    // Forgets it: a new session starts without the last one's.
    void ClearFailure();

protected:
    // Remembers why data is refused or dropped. text names the cause the
    // same way every time.
    void NoteFailure(FailureKind kind, const char* text);

    // Records the packet's sequence number. After a gap (16-bit arithmetic)
    // it calls Reset and returns false; the packet is still to be processed
    // and starts a new frame. The first packet is always accepted.
    bool CheckSequence(uint16_t sequenceNumber);
    // False, after the overflow message, when the frame outgrew
    // kMaxFrameSize; the caller then resets.
    bool CheckBufferSize();

    void AppendToFrame(const uint8_t* data, size_t length) { frame_.insert(frame_.end(), data, data + length); }
    // Empties the frame buffer but keeps its memory for the next frame.
    void ClearFrame() { frame_.clear(); }

    // Whether a finished frame can be handed over at all: client, driver
    // services, an allocator and a non-empty frame.
    bool CanHandOver() const;

    // Hands the frame over as a copy of the frame buffer with the FourCC set
    // on the sample. True when the client took it.
    bool HandOverFrame(uint32_t fourCC, uint32_t capacity);
    // Hands the frame over with write filling the sample: write(buffer,
    // capacity) returns the bytes written, 0 on failure (which resets the
    // parser). setFourCC false leaves the FourCC to the allocation. The
    // sample always goes back to the allocator; a refused frame resets.
    template <typename Write>
    bool HandOverFrame(uint32_t fourCC, uint32_t capacity, bool setFourCC, Write&& write) {
        using Callable = std::remove_reference_t<Write>;
        return HandOverFrameWith(
            fourCC, capacity, setFourCC,
            [](void* context, uint8_t* buffer, uint32_t bufferCapacity) -> uint32_t {
                return (*static_cast<Callable*>(context))(buffer, bufferCapacity);
            },
            const_cast<void*>(static_cast<const void*>(&write)));
    }

    IDriver* driver_;
    const std::string allocationName_;
    IMediaParserClient* client_ = nullptr;
    CTimeStampConverter timeStamps_;
    std::vector<uint8_t> frame_;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    MediaConfig config_;

private:
    using SampleWriter = uint32_t (*)(void* context, uint8_t* buffer, uint32_t capacity);
    bool HandOverFrameWith(uint32_t fourCC, uint32_t capacity, bool setFourCC, SampleWriter write,
                           void* context);

    uint16_t lastSequence_ = 0;
    bool firstPacket_ = true;
    // Written on the receiving thread, read by the channel's.
    mutable std::mutex failureLock_;
    FailureReason lastFailure_;
};

}  // namespace telvaro
