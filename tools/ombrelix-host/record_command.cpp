#include "record_command.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <thread>

#include "hostkit/driver_library.h"
#include "host_objects.h"
#include "opened_driver.h"
#include "ombrelix/exports.h"
#include "probe_command.h"

namespace host {

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) { g_stop = true; }

const char* FileEnding(int32_t codec) {
    switch (codec) {
        case kCodecJpeg:
            return "mjpeg";
        case kCodecMpeg4:
            return "m4v";
        default:
            return "h264";
    }
}

struct ChannelRun {
    std::unique_ptr<StreamSink> sink;
    std::string mediaPath;
    bool started = false;
    // When StartChannel was called: the first frame's delay counts from it.
    std::chrono::steady_clock::time_point startCall;
    StreamStats last;
};

}  // namespace

bool StopRequested() { return g_stop.load(); }

void InstallStopHandler() {
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
}

int32_t CodecCode(const std::string& name) {
    if (name == "h264" || name == "H.264") return kCodecH264;
    if (name == "mpeg4" || name == "MPEG4") return kCodecMpeg4;
    if (name == "jpeg" || name == "mjpeg" || name == "MJPEG") return kCodecJpeg;
    return 0;
}

bool BuildParameters(const RecordOptions& options, std::map<int32_t, std::string>& out, std::string& error) {
    out.clear();
    out[1] = "0";
    int32_t index = 2;
    for (const std::string& text : options.capabilities) out[index++] = text;
    for (const std::string& pair : options.parameters) {
        size_t eq = pair.find('=');
        if (eq == std::string::npos || eq == 0) {
            error = "parameter '" + pair + "' is not INDEX=TEXT";
            return false;
        }
        try {
            int32_t i = std::stoi(pair.substr(0, eq));
            if (i < 1) throw std::out_of_range("index");
            out[i] = pair.substr(eq + 1);
        } catch (const std::exception&) {
            error = "parameter index in '" + pair + "' is not a number from 1";
            return false;
        }
    }
    return true;
}

int RunRecord(const RecordOptions& given) {
    RecordOptions options = given;
    const int32_t codec = CodecCode(options.codec);
    if (!codec) {
        std::fprintf(stderr, "unknown codec '%s' (h264, mpeg4, jpeg)\n", options.codec.c_str());
        return 2;
    }
    hostkit::DriverLibrary library;
    if (!library.Load(options.library)) {
        std::fprintf(stderr, "cannot load the driver: %s\n", library.Error().c_str());
        return 2;
    }
    std::string error;
    if (options.probe) {
        ProbeOptions probe;
        static_cast<DeviceOptions&>(probe) = options;
        ProbeResult result;
        if (!QueryCapabilities(library, probe, result, error) || !result.succeeded) {
            std::fprintf(stderr, "capability query failed: %s\n",
                         error.empty() ? result.failureMessage.c_str() : error.c_str());
            return 1;
        }
        options.capabilities = result.CapabilityTexts();
        for (const std::string& text : options.capabilities) std::printf("capability text: %s\n", text.c_str());
    }
    DeviceConfig device;
    if (!BuildParameters(options, device.parameters, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    device.connection.address = options.address;
    device.connection.port = options.port;
    device.connection.user = options.user;
    device.connection.password = options.password;
    device.connection.codec = codec;
    device.model.model = options.model;
    device.model.channels = options.channels;
    device.model.inputs = options.inputs;
    device.model.outputs = options.outputs;


    DebugSink debug(options.quiet);
    SampleAllocator allocator;
    OpenedDriver driver;
    if (!driver.Open(library, &debug, &allocator, &device, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    IIPVideoCapture* capture = driver->GetVideoCapture();
    if (!capture) {
        std::fprintf(stderr, "the driver has no video capture object\n");
        return 1;
    }

    StreamConfig config;
    config.size.width = options.width;
    config.size.height = options.height;
    config.frameInterval = options.interval;
    config.quality = options.quality;

    std::vector<ChannelRun> runs(capture->GetChannelCount());
    for (uint32_t i = 0; i < runs.size(); ++i) {
        std::string base = options.output + "/channel" + std::to_string(i);
        if (!options.discard) runs[i].mediaPath = base + "." + FileEnding(codec);
        runs[i].sink.reset(new StreamSink(i, runs[i].mediaPath, options.discard ? std::string() : base + ".log"));
        if (!runs[i].sink->Opened()) {
            std::fprintf(stderr, "cannot write %s\n", runs[i].mediaPath.c_str());
            driver.Close();  // stops the channels before their sinks go
            return 2;
        }
        runs[i].startCall = std::chrono::steady_clock::now();
        runs[i].started = capture->StartChannel(i, runs[i].sink.get(), &config);
        if (!runs[i].started) std::fprintf(stderr, "channel %u did not start\n", i);
    }

    const bool terminal = isatty(STDOUT_FILENO) != 0;
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                 std::chrono::duration<double>(options.duration));
    auto nextLine = start + std::chrono::seconds(1);
    while (!StopRequested()) {
        auto now = std::chrono::steady_clock::now();
        if (now >= end) break;
        if (now < nextLine) {
            // Asleep until the next line or the end; a stop request is seen
            // within 200 ms. The host's own wake-ups count in the CPU time of
            // the process that carries the driver.
            std::this_thread::sleep_for(std::min({nextLine - now, end - now,
                                                  std::chrono::steady_clock::duration(std::chrono::milliseconds(200))}));
            continue;
        }
        nextLine += std::chrono::seconds(1);
        uint64_t frames = 0, bytes = 0;
        uint32_t streaming = 0;
        for (uint32_t i = 0; i < runs.size(); ++i) {
            StreamStats s = runs[i].sink->Stats();
            frames += s.frames;
            bytes += s.bytes;
            if (s.frames > 0) ++streaming;
            uint32_t state = 0, code = 0;
            capture->GetChannelStatus(i, &state, &code, nullptr, 0);
            if (terminal) {
                std::printf("channel %u: state %u, %3llu fps, %6.0f kbit/s, %ux%u %s\n", i, state,
                            static_cast<unsigned long long>(s.frames - runs[i].last.frames),
                            (s.bytes - runs[i].last.bytes) * 8 / 1000.0, s.width, s.height,
                            FourccText(s.fourcc).c_str());
            }
            runs[i].last = s;
        }
        if (options.progress) {
            std::printf("progress %.3f %u %llu %llu\n", std::chrono::duration<double>(now - start).count(), streaming,
                        static_cast<unsigned long long>(frames), static_cast<unsigned long long>(bytes));
        }
        if (terminal || options.progress) std::fflush(stdout);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::vector<uint32_t> finalStates(runs.size(), 2);
    for (uint32_t i = 0; i < runs.size(); ++i) {
        uint32_t code = 0;
        capture->GetChannelStatus(i, &finalStates[i], &code, nullptr, 0);
        capture->StopChannel(i);
    }
    driver.Close();

    int status = 0;
    std::printf("summary after %.1f s (%s, %s:%u):\n", seconds, options.codec.c_str(), options.address.c_str(),
                options.port);
    for (uint32_t i = 0; i < runs.size(); ++i) {
        StreamStats s = runs[i].sink->Stats();
        // Rates count from the first frame: connecting (a UDP port probe
        // alone takes 2 s) is shown apart.
        const double streaming = s.frames > 1 ? std::chrono::duration<double>(s.last - s.first).count() : 0.0;
        const double rate = streaming > 0 ? (s.frames - 1) / streaming : 0.0;
        const double kbits = streaming > 0 ? s.bytes * 8 / 1000.0 / streaming : 0.0;
        const double firstAfter = s.frames ? std::chrono::duration<double>(s.first - runs[i].startCall).count() : 0.0;
        std::printf("  channel %u: %llu frames (%llu key), %llu bytes, %.1f fps, %.0f kbit/s, %ux%u, "
                    "first frame after %.3f s, last FourCC %s, signal lost %u, state %u, file %s\n",
                    i, static_cast<unsigned long long>(s.frames), static_cast<unsigned long long>(s.keyFrames),
                    static_cast<unsigned long long>(s.bytes), rate, kbits, s.width, s.height, firstAfter,
                    FourccText(s.fourcc).c_str(), s.signalLost, finalStates[i],
                    runs[i].mediaPath.empty() ? "none" : runs[i].mediaPath.c_str());
        if (s.frames == 0) status = 1;
    }
    if (allocator.Outstanding() != 0) {
        std::printf("  %d samples were never given back to the host\n", allocator.Outstanding());
        status = 1;
    }
    return status;
}

}  // namespace host
