#include "io_command.h"

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
    void OnInputChanged(uint32_t index, uint32_t state) override {
        std::lock_guard<std::mutex> lock(mu_);
        std::printf("%s input %u %s\n", Now().c_str(), index, state == kInputActive ? "active" : "inactive");
        std::fflush(stdout);
        ++changes;
    }
    void OnIOFailure() override {
        std::lock_guard<std::mutex> lock(mu_);
        std::printf("%s I/O failure: the device did not answer; states are unknown until it does\n", Now().c_str());
        std::fflush(stdout);
        ++failures;
    }
    int changes = 0;
    int failures = 0;

private:
    std::mutex mu_;
};

}  // namespace

int RunIo(const IoOptions& options) {
    std::vector<std::pair<int32_t, int32_t>> writes;
    for (const std::string& pair : options.set) {
        size_t eq = pair.find('=');
        try {
            if (eq == std::string::npos) throw std::invalid_argument(pair);
            writes.emplace_back(std::stoi(pair.substr(0, eq)), std::stoi(pair.substr(eq + 1)));
        } catch (const std::exception&) {
            std::fprintf(stderr, "--set takes OUTPUT=VALUE, not '%s'\n", pair.c_str());
            return 2;
        }
    }
    hostkit::DriverLibrary library;
    if (!library.Load(options.library)) {
        std::fprintf(stderr, "cannot load the driver: %s\n", library.Error().c_str());
        return 2;
    }
    DeviceConfig device;
    device.connection.address = options.address;
    device.connection.port = options.port;
    device.connection.user = options.user;
    device.connection.password = options.password;
    device.model.model = options.model;
    device.model.inputs = options.inputs;
    device.model.outputs = options.outputs;
    DebugSink debug(true);
    SampleAllocator allocator;
    OpenedDriver driver;
    std::string error;
    if (!driver.Open(library, &debug, &allocator, &device, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    telvaro::ICaptureIOApi* io = driver->GetCaptureIO();
    if (!io) {
        std::fprintf(stderr, "the driver has no I/O object\n");
        return 1;
    }
    PrintingIOSink sink;
    io->SetEventSink(&sink);
    std::printf("%s watching %u inputs, %u outputs of %s:%u\n", Now().c_str(), io->GetInputCount(),
                io->GetOutputCount(), options.address.c_str(), options.port);
    bool started = io->Start();
    if (!started) std::printf("%s the I/O threads did not all start\n", Now().c_str());
    for (const auto& w : writes) {
        bool queued = io->SetOutput(w.first, w.second);
        std::printf("%s output %d <- %d %s\n", Now().c_str(), w.first, w.second, queued ? "queued" : "refused");
    }
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(options.duration);
    while (!StopRequested() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    io->Stop();
    driver.Close();
    return sink.failures == 0 && started ? 0 : 1;
}

}  // namespace host
