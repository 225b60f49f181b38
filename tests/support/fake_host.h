// Recording stand-ins for every object a recorder host hands to the driver.
// All of them may be called from several driver threads at once.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "hostkit/device_config.h"
#include "hostkit/stream_config.h"
#include "ombrelix/host.h"

namespace fakes {

using namespace telvaro::ipcapture;

// Waits until pred() holds (checked under mu) or the time-out passes.
template <typename Pred>
bool WaitFor(std::mutex& mu, std::condition_variable& cv, int timeoutMs, Pred pred) {
    std::unique_lock<std::mutex> lock(mu);
    return cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), pred);
}

struct DebugRecord {
    uint8_t level;
    std::string text;  // "(null)" when the driver passed no text
};

class FakeDebugSink final : public IDebugSink {
    OMBRELIX_DESTRUCTOR_SLOT(FakeDebugSink)
public:
    void Receive(const CDebugInfoIf* info) override;
    std::vector<DebugRecord> Records();
    size_t Count();
    // Texts that contain the fragment.
    size_t CountContaining(const std::string& fragment);
    bool WaitForCount(size_t n, int timeoutMs);
    bool WaitForText(const std::string& fragment, int timeoutMs);
    void Clear();

private:
    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<DebugRecord> records_;
};

class FakeSample final : public IMediaSample {
    OMBRELIX_DESTRUCTOR_SLOT(FakeSample)
public:
    FakeSample(uint32_t fourcc, uint32_t capacity, std::string driverName);
    uint8_t* GetBuffer() override { return buffer_.data(); }
    void SetLength(uint32_t length) override { length_ = length; }
    void SetTime(const SYSTEMTIME& utc) override { time_ = utc; timeSet_ = true; }
    void SetFourCC(uint32_t fourcc) override { fourcc_ = fourcc; }
    void SetHeight(uint32_t height) override { height_ = height; }
    void SetWidth(uint32_t width) override { width_ = width; }
    void SetSizeClass(uint32_t sizeClass) override { sizeClass_ = sizeClass; }

    uint32_t allocFourcc_;
    uint32_t capacity_;
    std::string driverName_;
    std::vector<uint8_t> buffer_;
    uint32_t length_ = 0;
    SYSTEMTIME time_{};
    bool timeSet_ = false;
    uint32_t fourcc_ = 0;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    uint32_t sizeClass_ = 0;
};

class FakeSampleAllocator final : public ISampleAllocator {
    OMBRELIX_DESTRUCTOR_SLOT(FakeSampleAllocator)
public:
    IMediaSample* AllocateSample(uint32_t fourcc, uint32_t capacity, const char* driverName) override;
    void ReleaseSample(IMediaSample* sample) override;

    // Refuse every allocation while set.
    std::atomic<bool> refuse{false};
    std::atomic<int> allocations{0};
    std::atomic<int> releases{0};
    uint32_t LastCapacity();
    uint32_t LastFourcc();
    std::string LastDriverName();

private:
    std::mutex mu_;
    uint32_t lastCapacity_ = 0;
    uint32_t lastFourcc_ = 0;
    std::string lastDriverName_;
};

using FakeModelInfo = hostkit::ModelInfo;
using FakeConnection = hostkit::Connection;

// Counts how often the driver asks for a parameter.
class FakeDeviceConfig : public hostkit::DeviceConfig {
public:
    const char* GetParameter(int32_t index) override {
        ++parameterQueries;
        return DeviceConfig::GetParameter(index);
    }
    std::atomic<int> parameterQueries{0};
};

// A frame as the stream sink saw it, copied during OnSample.
struct ReceivedFrame {
    std::vector<uint8_t> data;
    uint32_t fourcc = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t sizeClass = 0;
    SYSTEMTIME time{};
    std::chrono::steady_clock::time_point arrived;  // when OnSample was called
};

class FakeStreamSink final : public IStreamSink {
    OMBRELIX_DESTRUCTOR_SLOT(FakeStreamSink)
public:
    bool OnSample(IMediaSample* sample) override;
    void OnSignalLost() override;

    std::vector<ReceivedFrame> Frames();
    size_t FrameCount();
    bool WaitForFrames(size_t n, int timeoutMs);
    bool WaitForSignalLost(int n, int timeoutMs);
    void Clear();

    std::atomic<bool> accept{true};
    std::atomic<bool> throwOnSample{false};
    std::atomic<int> signalLost{0};
    // Copies frame bytes only while set; counting is always done.
    std::atomic<bool> keepData{true};

private:
    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<ReceivedFrame> frames_;
    size_t frameCount_ = 0;
};

using FakeImageSize = hostkit::ImageSize;
// Answers the rate part's unused middle operation with a value far outside
// any frame interval or quality the tests use, and counts the calls: the
// driver must make none.
class FakeStreamConfig : public hostkit::StreamConfig {
public:
    using hostkit::StreamConfig::StreamConfig;
    uint16_t GetReservedValue() override {
        ++reservedCalls;
        return 4660;
    }
    std::atomic<int> reservedCalls{0};
};

struct IOEvent {
    bool failure;
    uint32_t index;
    uint32_t state;
    std::chrono::steady_clock::time_point when;
};

class FakeIOEventSink final : public IIOEventSink {
    OMBRELIX_DESTRUCTOR_SLOT(FakeIOEventSink)
public:
    void OnInputChanged(uint32_t inputIndex, uint32_t state) override;
    void OnIOFailure() override;
    std::vector<IOEvent> Events();
    bool WaitForEvents(size_t n, int timeoutMs);
    int Failures();
    void Clear();

private:
    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<IOEvent> events_;
};

class FakeCapabilityCallback final : public ICapabilityQueryCallback {
    OMBRELIX_DESTRUCTOR_SLOT(FakeCapabilityCallback)
public:
    void OnSuccess() override;
    void OnFailure(int32_t code, const char* message) override;
    bool WaitForCall(int timeoutMs);
    int successes = 0;
    int failures = 0;
    int32_t lastCode = 0;
    std::string lastMessage;

private:
    std::mutex mu_;
    std::condition_variable cv_;
};

// Records every call the capability query makes on the host's result
// object, in order, as readable lines ("SetValue 0 1", "Property 1 SetName
// Video standard", ...).
class FakeCapabilityResults final : public ICapabilityResults {
    OMBRELIX_DESTRUCTOR_SLOT(FakeCapabilityResults)
public:
    FakeCapabilityResults();
    void SetValue(uint32_t key, uint32_t value) override;
    void SetName(const char* name) override;
    ITextField* GetConnectionField(uint32_t field) override;
    IProperty* GetProperty(uint32_t index) override;
    IResolutionList* GetResolutionList() override;
    IFrameIntervalList* GetFrameIntervalList(uint32_t which) override;

    std::vector<std::string> Calls();
    void Record(const std::string& line);

private:
    class Field;
    class Property;
    class Resolutions;
    class Intervals;
    std::mutex mu_;
    std::vector<std::string> calls_;
    // Deleted as a host deletes them, through the destructor slot.
    template <typename Interface>
    using Owned = std::unique_ptr<Interface, ombrelix_abi::SlotDeleter>;
    std::map<uint32_t, Owned<ITextField>> fields_;
    std::map<uint32_t, Owned<IProperty>> properties_;
    Owned<IResolutionList> resolutions_;
    Owned<IFrameIntervalList> intervals_;
};

// Appends the lines FakeCapabilityResults records when the driver adds one
// property: its name, reserved 0, its kind, then its value.
void AddPropertyCalls(std::vector<std::string>& lines, uint32_t index, const std::string& name, uint32_t kind,
                      const std::string& value);

}  // namespace fakes
