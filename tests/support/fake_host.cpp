#include "support/fake_host.h"

#include <memory>
#include <stdexcept>

namespace fakes {

void FakeDebugSink::Receive(const CDebugInfoIf* info) {
    std::lock_guard<std::mutex> lock(mu_);
    records_.push_back({info->GetLevel(), info->GetText() ? info->GetText() : "(null)"});
    cv_.notify_all();
}

std::vector<DebugRecord> FakeDebugSink::Records() {
    std::lock_guard<std::mutex> lock(mu_);
    return records_;
}

size_t FakeDebugSink::Count() {
    std::lock_guard<std::mutex> lock(mu_);
    return records_.size();
}

size_t FakeDebugSink::CountContaining(const std::string& fragment) {
    std::lock_guard<std::mutex> lock(mu_);
    size_t n = 0;
    for (const auto& r : records_) n += r.text.find(fragment) != std::string::npos;
    return n;
}

bool FakeDebugSink::WaitForCount(size_t n, int timeoutMs) {
    return WaitFor(mu_, cv_, timeoutMs, [&] { return records_.size() >= n; });
}

bool FakeDebugSink::WaitForText(const std::string& fragment, int timeoutMs) {
    return WaitFor(mu_, cv_, timeoutMs, [&] {
        for (const auto& r : records_)
            if (r.text.find(fragment) != std::string::npos) return true;
        return false;
    });
}

void FakeDebugSink::Clear() {
    std::lock_guard<std::mutex> lock(mu_);
    records_.clear();
}

FakeSample::FakeSample(uint32_t fourcc, uint32_t capacity, std::string driverName)
    : allocFourcc_(fourcc), capacity_(capacity), driverName_(std::move(driverName)), buffer_(capacity) {}

IMediaSample* FakeSampleAllocator::AllocateSample(uint32_t fourcc, uint32_t capacity, const char* driverName) {
    {
        std::lock_guard<std::mutex> lock(mu_);
        lastCapacity_ = capacity;
        lastFourcc_ = fourcc;
        lastDriverName_ = driverName ? driverName : "";
    }
    if (refuse) return nullptr;
    ++allocations;
    return new FakeSample(fourcc, capacity, driverName ? driverName : "");
}

void FakeSampleAllocator::ReleaseSample(IMediaSample* sample) {
    ++releases;
    ombrelix_abi::DeleteObject(sample);
}

uint32_t FakeSampleAllocator::LastCapacity() {
    std::lock_guard<std::mutex> lock(mu_);
    return lastCapacity_;
}

uint32_t FakeSampleAllocator::LastFourcc() {
    std::lock_guard<std::mutex> lock(mu_);
    return lastFourcc_;
}

std::string FakeSampleAllocator::LastDriverName() {
    std::lock_guard<std::mutex> lock(mu_);
    return lastDriverName_;
}

bool FakeStreamSink::OnSample(IMediaSample* sample) {
    if (throwOnSample) throw std::runtime_error("host refuses");
    auto* s = static_cast<FakeSample*>(sample);
    ReceivedFrame frame;
    if (keepData) frame.data.assign(s->buffer_.begin(), s->buffer_.begin() + std::min<size_t>(s->length_, s->buffer_.size()));
    frame.fourcc = s->fourcc_ ? s->fourcc_ : s->allocFourcc_;
    frame.width = s->width_;
    frame.height = s->height_;
    frame.sizeClass = s->sizeClass_;
    frame.time = s->time_;
    frame.arrived = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(mu_);
    ++frameCount_;
    if (keepData) frames_.push_back(std::move(frame));
    cv_.notify_all();
    return accept;
}

void FakeStreamSink::OnSignalLost() {
    std::lock_guard<std::mutex> lock(mu_);
    ++signalLost;
    cv_.notify_all();
}

std::vector<ReceivedFrame> FakeStreamSink::Frames() {
    std::lock_guard<std::mutex> lock(mu_);
    return frames_;
}

size_t FakeStreamSink::FrameCount() {
    std::lock_guard<std::mutex> lock(mu_);
    return frameCount_;
}

bool FakeStreamSink::WaitForFrames(size_t n, int timeoutMs) {
    return WaitFor(mu_, cv_, timeoutMs, [&] { return frameCount_ >= n; });
}

bool FakeStreamSink::WaitForSignalLost(int n, int timeoutMs) {
    return WaitFor(mu_, cv_, timeoutMs, [&] { return signalLost >= n; });
}

void FakeStreamSink::Clear() {
    std::lock_guard<std::mutex> lock(mu_);
    frames_.clear();
    frameCount_ = 0;
}

void FakeIOEventSink::OnInputChanged(uint32_t inputIndex, uint32_t state) {
    std::lock_guard<std::mutex> lock(mu_);
    events_.push_back({false, inputIndex, state, std::chrono::steady_clock::now()});
    cv_.notify_all();
}

void FakeIOEventSink::OnIOFailure() {
    std::lock_guard<std::mutex> lock(mu_);
    events_.push_back({true, 0, 0, std::chrono::steady_clock::now()});
    cv_.notify_all();
}

std::vector<IOEvent> FakeIOEventSink::Events() {
    std::lock_guard<std::mutex> lock(mu_);
    return events_;
}

bool FakeIOEventSink::WaitForEvents(size_t n, int timeoutMs) {
    return WaitFor(mu_, cv_, timeoutMs, [&] { return events_.size() >= n; });
}

int FakeIOEventSink::Failures() {
    std::lock_guard<std::mutex> lock(mu_);
    int n = 0;
    for (const auto& e : events_) n += e.failure;
    return n;
}

void FakeIOEventSink::Clear() {
    std::lock_guard<std::mutex> lock(mu_);
    events_.clear();
}

void FakeCapabilityCallback::OnSuccess() {
    std::lock_guard<std::mutex> lock(mu_);
    ++successes;
    cv_.notify_all();
}

void FakeCapabilityCallback::OnFailure(int32_t code, const char* message) {
    std::lock_guard<std::mutex> lock(mu_);
    ++failures;
    lastCode = code;
    lastMessage = message ? message : "";
    cv_.notify_all();
}

bool FakeCapabilityCallback::WaitForCall(int timeoutMs) {
    return WaitFor(mu_, cv_, timeoutMs, [&] { return successes + failures > 0; });
}

class FakeCapabilityResults::Field final : public ITextField {
    OMBRELIX_DESTRUCTOR_SLOT(Field)
public:
    Field(FakeCapabilityResults* owner, uint32_t id) : owner_(owner), id_(id) {}
    void SetText(const char* text) override {
        owner_->Record("Field " + std::to_string(id_) + " " + (text ? text : "(null)"));
    }

private:
    FakeCapabilityResults* owner_;
    uint32_t id_;
};

class FakeCapabilityResults::Property final : public IProperty {
    OMBRELIX_DESTRUCTOR_SLOT(Property)
public:
    Property(FakeCapabilityResults* owner, uint32_t index) : owner_(owner), prefix_("Property " + std::to_string(index)) {}
    void SetValue(const char* value) override { owner_->Record(prefix_ + " SetValue " + (value ? value : "(null)")); }
    void SetKind(uint32_t kind) override { owner_->Record(prefix_ + " SetKind " + std::to_string(kind)); }
    void SetName(const char* name) override { owner_->Record(prefix_ + " SetName " + (name ? name : "(null)")); }
    void SetReserved(uint32_t reserved) override {
        owner_->Record(prefix_ + " SetReserved " + std::to_string(reserved));
    }

private:
    FakeCapabilityResults* owner_;
    std::string prefix_;
};

class FakeCapabilityResults::Resolutions final : public IResolutionList {
    OMBRELIX_DESTRUCTOR_SLOT(Resolutions)
public:
    explicit Resolutions(FakeCapabilityResults* owner) : owner_(owner) {}
    void Add(const char* text, uint32_t width, uint32_t height, uint32_t interval) override {
        owner_->Record(std::string("Resolution ") + (text ? text : "(null)") + " " + std::to_string(width) + " " +
                       std::to_string(height) + " " + std::to_string(interval));
    }

private:
    FakeCapabilityResults* owner_;
};

class FakeCapabilityResults::Intervals final : public IFrameIntervalList {
    OMBRELIX_DESTRUCTOR_SLOT(Intervals)
public:
    explicit Intervals(FakeCapabilityResults* owner) : owner_(owner) {}
    void SetDefault(uint32_t interval) override { owner_->Record("IntervalDefault " + std::to_string(interval)); }
    void Add(uint32_t interval) override { owner_->Record("Interval " + std::to_string(interval)); }

private:
    FakeCapabilityResults* owner_;
};

FakeCapabilityResults::FakeCapabilityResults()
    : resolutions_(new Resolutions(this)), intervals_(new Intervals(this)) {}

void FakeCapabilityResults::SetValue(uint32_t key, uint32_t value) {
    Record("SetValue " + std::to_string(key) + " " + std::to_string(value));
}

void FakeCapabilityResults::SetName(const char* name) { Record(std::string("SetName ") + (name ? name : "(null)")); }

ITextField* FakeCapabilityResults::GetConnectionField(uint32_t field) {
    std::lock_guard<std::mutex> lock(mu_);
    auto& slot = fields_[field];
    if (!slot) slot.reset(new Field(this, field));
    return slot.get();
}

IProperty* FakeCapabilityResults::GetProperty(uint32_t index) {
    std::lock_guard<std::mutex> lock(mu_);
    auto& slot = properties_[index];
    if (!slot) slot.reset(new Property(this, index));
    return slot.get();
}

IResolutionList* FakeCapabilityResults::GetResolutionList() { return resolutions_.get(); }

IFrameIntervalList* FakeCapabilityResults::GetFrameIntervalList(uint32_t which) {
    Record("FrameIntervalList " + std::to_string(which));
    return intervals_.get();
}

std::vector<std::string> FakeCapabilityResults::Calls() {
    std::lock_guard<std::mutex> lock(mu_);
    return calls_;
}

void FakeCapabilityResults::Record(const std::string& line) {
    std::lock_guard<std::mutex> lock(mu_);
    calls_.push_back(line);
}

void AddPropertyCalls(std::vector<std::string>& lines, uint32_t index, const std::string& name, uint32_t kind,
                      const std::string& value) {
    const std::string prefix = "Property " + std::to_string(index) + " ";
    lines.push_back(prefix + "SetName " + name);
    lines.push_back(prefix + "SetReserved 0");
    lines.push_back(prefix + "SetKind " + std::to_string(kind));
    lines.push_back(prefix + "SetValue " + value);
}

}  // namespace fakes
