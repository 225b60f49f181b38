#include "media/media_parser.h"

#include <cstring>

namespace telvaro {

namespace {

constexpr uint32_t kCapacityBuckets[] = {4096, 16384, 32768, 131072};

// Gives the sample back to the allocator on every way out.
class SampleRelease {
public:
    SampleRelease(ipcapture::ISampleAllocator* allocator, ipcapture::IMediaSample* sample)
        : allocator_(allocator), sample_(sample) {}
    ~SampleRelease() { allocator_->ReleaseSample(sample_); }
    SampleRelease(const SampleRelease&) = delete;
    SampleRelease& operator=(const SampleRelease&) = delete;

private:
    ipcapture::ISampleAllocator* allocator_;
    ipcapture::IMediaSample* sample_;
};

}  // namespace

uint32_t SampleCapacity(uint32_t frameLength) {
    for (uint32_t bucket : kCapacityBuckets) {
        if (frameLength <= bucket) return bucket;
    }
    return frameLength;
}

uint32_t SizeClass(uint32_t width, uint32_t height) {
    if (width < 200) return 1;
    if (width < 400) return 2;
    if (width < 1024 && static_cast<uint64_t>(width) > 2ull * height) return 3;
    return 4;
}

CRTPMediaParser::CRTPMediaParser(IDriver* driver, const std::string& allocationName)
    : driver_(driver), allocationName_(allocationName) {}

CRTPMediaParser::~CRTPMediaParser() = default;

void CRTPMediaParser::SetMediaConfig(const MediaConfig& config) {
    config_.sps = config.sps;
    config_.pps = config.pps;
    config_.config = config.config;
}

bool CRTPMediaParser::CheckSequence(uint16_t sequenceNumber) {
    const uint16_t expected = static_cast<uint16_t>(lastSequence_ + 1);
    lastSequence_ = sequenceNumber;
    if (firstPacket_) {
        firstPacket_ = false;
        return true;
    }
    if (sequenceNumber == expected) return true;
    Reset();
    return false;
}

FailureReason CRTPMediaParser::LastFailure() const {
    std::lock_guard<std::mutex> guard(failureLock_);
    return lastFailure_;
}

void CRTPMediaParser::ClearFailure() {
    std::lock_guard<std::mutex> guard(failureLock_);
    lastFailure_ = FailureReason();
}

void CRTPMediaParser::NoteFailure(FailureKind kind, const char* text) {
    std::lock_guard<std::mutex> guard(failureLock_);
    // A cause met packet after packet costs no allocation.
    if (lastFailure_.kind == kind && lastFailure_.text == text) return;
    lastFailure_.kind = kind;
    lastFailure_.text = text;
}

bool CRTPMediaParser::CheckBufferSize() {
    if (frame_.size() <= kMaxFrameSize) return true;
    static_assert(kMaxFrameSize == 10485760, "the text below names the bound");
    NoteFailure(kFailureTooLarge, "a frame above 10485760 bytes");
    if (driver_) {
        DEVICE_INFO info = driver_->GetDeviceInfo();
        driver_->DebugMessage(kMessageFailure, "%s: Frame buffer overflow detected, device %s:%u",
                              "telvaro::CRTPMediaParser::CheckBufferSize", info.address.c_str(),
                              static_cast<unsigned>(info.port));
    }
    return false;
}

bool CRTPMediaParser::CanHandOver() const {
    return client_ && driver_ && !frame_.empty() && driver_->GetSampleAllocator();
}

bool CRTPMediaParser::HandOverFrame(uint32_t fourCC, uint32_t capacity) {
    return HandOverFrame(fourCC, capacity, true, [this](uint8_t* buffer, uint32_t bufferCapacity) -> uint32_t {
        if (frame_.size() > bufferCapacity) return 0;
        std::memcpy(buffer, frame_.data(), frame_.size());
        return static_cast<uint32_t>(frame_.size());
    });
}

bool CRTPMediaParser::HandOverFrameWith(uint32_t fourCC, uint32_t capacity, bool setFourCC, SampleWriter write,
                                        void* context) {
    if (!client_ || !driver_ || frame_.empty()) return false;
    ipcapture::ISampleAllocator* allocator = driver_->GetSampleAllocator();
    if (!allocator) return false;
    ipcapture::IMediaSample* sample = allocator->AllocateSample(fourCC, capacity, allocationName_.c_str());
    if (!sample) return false;
    SampleRelease release(allocator, sample);

    uint8_t* buffer = sample->GetBuffer();
    const uint32_t length = buffer ? write(context, buffer, capacity) : 0;
    if (length == 0) {
        Reset();
        return false;
    }
    sample->SetLength(length);
    sample->SetWidth(width_);
    sample->SetHeight(height_);
    sample->SetSizeClass(SizeClass(width_, height_));
    if (setFourCC) sample->SetFourCC(fourCC);
    SYSTEMTIME time{};
    timeStamps_.GetTime(time);
    sample->SetTime(time);

    const bool taken = client_->OnFrame(sample);
    if (!taken) Reset();
    return taken;
}

}  // namespace telvaro
