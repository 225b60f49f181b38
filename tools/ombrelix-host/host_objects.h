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

// Prints each message with its level and keeps the latest ones (a long run
// must not keep every message it was sent). Once the host itself stops the
// channels, the driver's "offline, channel was stopped" notices are what the
// host asked for, not faults: they are kept but not printed.
//
// The driver says why a connection attempt or an I/O operation failed in a
// notice of its own; those are printed even when quiet (unless the command
// tells them itself), and the latest is kept.
class DebugSink final : public IDebugSink {
    OMBRELIX_DESTRUCTOR_SLOT(DebugSink)
public:
    static constexpr size_t kKept = 256;
    explicit DebugSink(bool quiet, bool printCauses = true) : quiet_(quiet), printCauses_(printCauses) {}
    void Receive(const CDebugInfoIf* info) override;
    // The latest messages, oldest first: a recorder that runs for days
    // through camera restarts keeps only the last kKept.
    std::vector<std::pair<int, std::string>> Messages();
    void Stopping() { stopping_ = true; }
    // The latest failure cause the driver gave, without where it came from;
    // empty when none came.
    std::string LastCause();

private:
    bool quiet_;
    bool printCauses_;
    std::string lastCause_;
    std::atomic<bool> stopping_{false};
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
    std::chrono::steady_clock::duration longestGap{};  // between two frames
    uint64_t frames = 0;
    uint64_t bytes = 0;
    uint64_t keyFrames = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t fourcc = 0;
    uint32_t signalLost = 0;
};

class MediaFile;

// Hands one channel's frames to its media file as they come and logs each
// frame's time, FourCC, size and picture size. Without a media file it only
// counts them.
class StreamSink final : public IStreamSink {
    OMBRELIX_DESTRUCTOR_SLOT(StreamSink)
public:
    StreamSink(uint32_t channel, std::unique_ptr<MediaFile> media, const std::string& logPath);
    ~StreamSink();
    bool OnSample(IMediaSample* sample) override;
    void OnSignalLost() override;
    StreamStats Stats();
    bool Opened() const { return counting_ || (media_ && log_); }
    // Completes the media file and the log (no frame arrives any more);
    // false with a reason when the file could not be completed.
    bool Finish(std::string& error);

private:
    uint32_t channel_;
    bool counting_;
    std::mutex mu_;
    std::unique_ptr<MediaFile> media_;
    std::string mediaError_;
    FILE* log_ = nullptr;
    StreamStats stats_;
};

std::string FourccText(uint32_t fourcc);
std::string FormatSystemTime(const SYSTEMTIME& t);
// Milliseconds since 1970-01-01 UTC.
int64_t SystemTimeMilliseconds(const SYSTEMTIME& t);
// H264, DIVX and JPEG frames stand on their own.
bool IsKeyFrame(uint32_t fourcc);

}  // namespace host
