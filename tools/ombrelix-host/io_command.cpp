#include "io_command.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <thread>

#include "hostkit/driver_library.h"
#include "host_objects.h"
#include "opened_driver.h"
#include "record_command.h"

namespace host {

namespace {

// How long a write may take before it counts as done: one HTTP exchange
// with the device's default time-outs.
constexpr std::chrono::seconds kWriteSettle{5};

std::string Now() {
    auto now = std::chrono::system_clock::now();
    std::time_t t = std::chrono::system_clock::to_time_t(now);
    int ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm tm{};
#if defined(_WIN32)
    localtime_s(&tm, &t);
#else
    localtime_r(&t, &tm);
#endif
    char text[32];
    std::snprintf(text, sizeof(text), "%02d:%02d:%02d.%03d", tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
    return text;
}

class PrintingIOSink final : public IIOEventSink {
    OMBRELIX_DESTRUCTOR_SLOT(PrintingIOSink)
public:
    // The driver tells the cause of a failure to the debug sink just before.
    explicit PrintingIOSink(DebugSink& debug) : debug_(debug) {}
    void OnInputChanged(uint32_t index, uint32_t state) override {
        std::lock_guard<std::mutex> lock(mu_);
        std::printf("%s input %u %s\n", Now().c_str(), index, state == kInputActive ? "active" : "inactive");
        std::fflush(stdout);
        ++changes;
    }
    void OnIOFailure() override {
        std::lock_guard<std::mutex> lock(mu_);
        const std::string cause = debug_.LastCause();
        std::printf("%s I/O failure: %s; states are unknown until the device answers again\n", Now().c_str(),
                    cause.empty() ? "the device did not answer" : cause.c_str());
        std::fflush(stdout);
        ++failures_;
    }
    int Failures() const { return failures_.load(); }
    int changes = 0;

private:
    DebugSink& debug_;
    std::mutex mu_;
    std::atomic<int> failures_{0};
};

}  // namespace

namespace {

// Outputs the driver will be told of: none unless one is to be set, and
// then only up to the highest one set, since the driver drives every output
// it knows high when it starts.
uint32_t DeclaredOutputs(const std::vector<std::pair<int32_t, int32_t>>& writes) {
    uint32_t count = 0;
    for (const auto& w : writes) count = std::max(count, static_cast<uint32_t>(w.first) + 1);
    return count;
}

// Whether a write went through: the driver says so only by reporting an I/O
// failure, so a write counts as done when none came within the settle time.
bool WaitForWrite(const PrintingIOSink& sink, int failuresBefore, std::chrono::steady_clock::time_point until) {
    while (!StopRequested() && std::chrono::steady_clock::now() < until) {
        if (sink.Failures() > failuresBefore) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return sink.Failures() == failuresBefore;
}

}  // namespace

int RunIo(const IoOptions& options) {
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                 std::chrono::duration<double>(options.duration));
    std::vector<std::pair<int32_t, int32_t>> writes;
    for (const std::string& pair : options.set) {
        size_t eq = pair.find('=');
        try {
            if (eq == std::string::npos) throw std::invalid_argument(pair);
            writes.emplace_back(std::stoi(pair.substr(0, eq)), std::stoi(pair.substr(eq + 1)));
            if (writes.back().first < 0) throw std::out_of_range(pair);
        } catch (const std::exception&) {
            std::fprintf(stderr, "ombrelix-host: --set takes OUTPUT=VALUE with OUTPUT from 0, not '%s'\n", pair.c_str());
            return 2;
        }
    }
    hostkit::DriverLibrary library;
    if (!LoadDriver(library, options)) return 2;
    DeviceConfig device;
    device.connection.address = options.address;
    device.connection.port = options.port;
    device.connection.user = options.user;
    device.connection.password = options.password;
    device.model.model = options.model;
    device.model.inputs = options.inputs;
    device.model.outputs = DeclaredOutputs(writes);
    DebugSink debug(true, false);
    SampleAllocator allocator;
    OpenedDriver driver;
    std::string error;
    if (!driver.Open(library, &debug, &allocator, &device, error)) {
        std::fprintf(stderr, "ombrelix-host: %s\n", error.c_str());
        return 1;
    }
    telvaro::ICaptureIOApi* io = driver->GetCaptureIO();
    if (!io) {
        std::fprintf(stderr, "ombrelix-host: the driver has no I/O object\n");
        return 1;
    }
    PrintingIOSink sink(debug);
    io->SetEventSink(&sink);
    std::printf("%s watching %u inputs of %s:%u\n", Now().c_str(), io->GetInputCount(), options.address.c_str(),
                options.port);
    if (device.model.outputs == 0) {
        std::printf("%s no output is touched (--set OUTPUT=VALUE sets one)\n", Now().c_str());
    } else {
        std::string driven;
        for (uint32_t i = 0; i < device.model.outputs; ++i) driven += (i ? ", " : "") + std::to_string(i);
        std::printf("%s the driver drives output%s %s high as it starts, then:", Now().c_str(),
                    device.model.outputs == 1 ? "" : "s", driven.c_str());
        for (const auto& w : writes) std::printf(" %d <- %d", w.first, w.second);
        std::printf("\n");
    }
    std::fflush(stdout);
    bool started = io->Start();
    if (!started) std::printf("%s the I/O threads did not all start\n", Now().c_str());
    int writeFailures = 0;
    for (const auto& w : writes) {
        const int before = sink.Failures();
        if (!io->SetOutput(w.first, w.second)) {
            std::printf("%s output %d <- %d refused by the driver\n", Now().c_str(), w.first, w.second);
            ++writeFailures;
            continue;
        }
        const bool written =
            WaitForWrite(sink, before, std::min(end, std::chrono::steady_clock::now() + kWriteSettle));
        if (!written) ++writeFailures;
        std::printf("%s output %d <- %d %s\n", Now().c_str(), w.first, w.second,
                    written ? "written" : "failed (the device did not take it)");
        std::fflush(stdout);
    }
    while (!StopRequested() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    io->Stop();
    driver.Close();
    if (StopRequested()) return kInterruptedStatus;
    return sink.Failures() == 0 && writeFailures == 0 && started ? 0 : 1;
}

}  // namespace host
