// The host side of the driver boundary: every object a recorder hands the
// driver, implemented for a command-line host. All are safe to call from
// several driver threads at once.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "hostkit/device_config.h"
#include "hostkit/stream_config.h"
#include "ombrelix/host.h"

namespace host {

using namespace telvaro::ipcapture;

// Prints each message with its level, and keeps them for the summary.
class DebugSink final : public IDebugSink {
    OMBRELIX_DESTRUCTOR_SLOT(DebugSink)
public:
    explicit DebugSink(bool quiet) : quiet_(quiet) {}
    void Receive(const CDebugInfoIf* info) override;
    // The latest messages, oldest first: a recorder that runs for days
    // through camera restarts keeps only the last kKeptMessages.
    std::vector<std::pair<int, std::string>> Messages();
    static constexpr size_t kKeptMessages = 256;

private:
    bool quiet_;
    std::mutex mu_;
    std::deque<std::pair<int, std::string>> messages_;
};

class Sample final : public IMediaSample {
    OMBRELIX_DESTRUCTOR_SLOT(Sample)
public:
    explicit Sample(uint32_t capacity) : buffer(capacity) {}
    uint8_t* GetBuffer() override { return buffer.data(); }
    void SetLength(uint32_t l) override { length = l; }
    void SetTime(const SYSTEMTIME& t) override { time = t; }
    void SetFourCC(uint32_t f) override { fourcc = f; }
    void SetHeight(uint32_t h) override { height = h; }
    void SetWidth(uint32_t w) override { width = w; }
    void SetSizeClass(uint32_t s) override { sizeClass = s; }
    void Prepare(uint32_t allocationFourcc) {
        length = 0;
        fourcc = allocationFourcc;
        width = height = sizeClass = 0;
        time = SYSTEMTIME{};
    }

    std::vector<uint8_t> buffer;
    uint32_t length = 0;
    SYSTEMTIME time{};
    uint32_t fourcc = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t sizeClass = 0;
};

// Recycles samples per capacity, the way the driver's capacity buckets
// (4 KiB, 16 KiB, 32 KiB, 128 KiB, then exact sizes) intend.
class SampleAllocator final : public ISampleAllocator {
    OMBRELIX_DESTRUCTOR_SLOT(SampleAllocator)
public:
    ~SampleAllocator();
    IMediaSample* AllocateSample(uint32_t fourcc, uint32_t capacity, const char* driverName) override;
    void ReleaseSample(IMediaSample* sample) override;
    int Outstanding() const { return outstanding_.load(); }

private:
    std::mutex mu_;
    std::map<uint32_t, std::vector<Sample*>> free_;
    std::atomic<int> outstanding_{0};
};

using hostkit::Connection;
using hostkit::DeviceConfig;
using hostkit::ImageSize;
using hostkit::ModelInfo;
using hostkit::StreamConfig;

struct StreamStats {
    std::chrono::steady_clock::time_point first;  // arrival of the first frame
    std::chrono::steady_clock::time_point last;
    uint64_t frames = 0;
    uint64_t bytes = 0;
    uint64_t keyFrames = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t fourcc = 0;
    uint32_t signalLost = 0;
};

// Writes one channel's frames to a file as they come (an elementary stream
// for H.264 and MPEG-4, concatenated JPEG files for JPEG) and logs each
// frame's time, FourCC, size and picture size. Without a media path it only
// counts them.
class StreamSink final : public IStreamSink {
    OMBRELIX_DESTRUCTOR_SLOT(StreamSink)
public:
    StreamSink(uint32_t channel, const std::string& mediaPath, const std::string& logPath);
    ~StreamSink();
    bool OnSample(IMediaSample* sample) override;
    void OnSignalLost() override;
    StreamStats Stats();
    bool Opened() const { return media_ != nullptr || counting_; }

private:
    uint32_t channel_;
    bool counting_;
    std::mutex mu_;
    FILE* media_ = nullptr;
    FILE* log_ = nullptr;
    StreamStats stats_;
};

std::string FourccText(uint32_t fourcc);
std::string FormatSystemTime(const SYSTEMTIME& t);

}  // namespace host
