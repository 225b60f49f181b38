#include "record_command.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>

#include "channel_watch.h"
#include "hostkit/driver_library.h"
#include "host_objects.h"
#include "media_file.h"
#include "opened_driver.h"
#include "ombrelix/exports.h"
#include "probe_command.h"
#include "record_summary.h"

namespace host {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::atomic<bool> g_stop{false};

void OnSignal(int) { g_stop = true; }

bool IsDecimal(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos && text.size() <= 9;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    size_t from = 0;
    for (size_t at; (at = text.find(separator, from)) != std::string::npos; from = at + 1)
        pieces.push_back(text.substr(from, at - from));
    pieces.push_back(text.substr(from));
    return pieces;
}

// Each channel writes to a name of its own and its file takes the final
// name only once the channel delivered, so that a failed run leaves an
// earlier recording as it was. Without -y an existing file is an error.
int PrepareFiles(const RecordOptions& options, std::vector<ChannelRun>& runs) {
    for (uint32_t i = 0; i < runs.size(); ++i) {
        ChannelRun& run = runs[i];
        if (options.discard) {
            run.sink.reset(new StreamSink(i, nullptr, std::string()));
            continue;
        }
        const std::string base = (fs::path(options.output) / ("channel" + std::to_string(i))).string();
        run.file = base + "." + MediaFileEnding(options.format, options.codec);
        run.log = base + ".log";
        for (const std::string* path : {&run.file, &run.log}) {
            std::error_code ignored;
            if (!options.overwrite && fs::exists(*path, ignored)) {
                std::fprintf(stderr, "ombrelix-host: %s exists (-y or --overwrite replaces it)\n", path->c_str());
                return 2;
            }
        }
        const std::string suffix = ".part-" + std::to_string(CurrentProcessId());
        run.partialFile = run.file + suffix;
        run.partialLog = run.log + suffix;
        std::string error;
        std::unique_ptr<MediaFile> media = OpenMediaFile(options.format, options.codec, run.partialFile, error);
        if (!media) {
            std::fprintf(stderr, "ombrelix-host: %s\n", error.c_str());
            return 2;
        }
        run.sink.reset(new StreamSink(i, std::move(media), run.partialLog));
        if (!run.sink->Opened()) {
            std::fprintf(stderr, "ombrelix-host: cannot write %s\n", run.partialLog.c_str());
            return 2;
        }
    }
    return 0;
}

// Completes every file; those of channels that delivered take their final
// names, the others are removed.
void FinishFiles(std::vector<ChannelRun>& runs) {
    for (ChannelRun& run : runs) {
        std::string error;
        const bool complete = run.sink->Finish(error);
        if (run.partialFile.empty()) continue;
        std::error_code failed;
        if (complete && run.sink->Stats().frames > 0) {
            fs::rename(run.partialFile, run.file, failed);
            if (!failed) fs::rename(run.partialLog, run.log, failed);
            if (failed) run.fileError = "cannot rename " + run.partialFile + ": " + failed.message();
        } else {
            if (!complete && run.sink->Stats().frames > 0) run.fileError = error;
            fs::remove(run.partialFile, failed);
            fs::remove(run.partialLog, failed);
        }
        if (!complete || failed || run.sink->Stats().frames == 0) run.file.clear();
    }
}

}  // namespace

int TakeCapabilities(hostkit::DriverLibrary& library, RecordOptions& options, Clock::time_point end) {
    if (!options.probe && !options.capabilities.empty() && options.capabilities.size() < options.channels) {
        std::fprintf(stderr,
                     "ombrelix-host: %u channels asked for but %zu --capability texts given: one per channel, "
                     "in channel order\n",
                     options.channels, options.capabilities.size());
        return 2;
    }
    if (!options.probe && !options.capabilities.empty()) return 0;
    if (!options.probe && !options.quiet)
        std::fprintf(stderr, "ombrelix-host: no --capability given: asking the camera (capability query)\n");
    ProbeOptions probe;
    static_cast<DeviceOptions&>(probe) = options;
    probe.timeout = std::max(1.0, std::chrono::duration<double>(end - Clock::now()).count());
    ProbeResult result;
    std::string error;
    if (!QueryCapabilities(library, probe, result, error)) {
        std::fprintf(stderr, "ombrelix-host: capability query: %s\n", error.c_str());
        return StopRequested() ? kInterruptedStatus : 1;
    }
    if (!result.succeeded) {
        std::fprintf(stderr, "ombrelix-host: capability query failed: %s\n", FailureText(result, options).c_str());
        return 1;
    }
    options.capabilities = result.CapabilityTexts();
    for (const std::string& text : options.capabilities) std::printf("capability text: %s\n", text.c_str());
    if (options.capabilities.size() < options.channels) {
        std::fprintf(stderr,
                     "ombrelix-host: the camera's capability query describes %zu streaming channel%s, %u were "
                     "asked for: give channels %zu to %u a --capability text each (channelId;rtspPort;"
                     "qualityControlTypes;cbrMin;cbrMax;fixedQualityOptions), after those of the channels before\n",
                     options.capabilities.size(), options.capabilities.size() == 1 ? "" : "s", options.channels,
                     options.capabilities.size(), options.channels - 1);
        return 2;
    }
    return 0;
}

void FillDevice(const RecordOptions& options, int32_t codec, DeviceConfig& device) {
    device.connection.address = options.address;
    device.connection.port = options.port;
    device.connection.user = options.user;
    device.connection.password = options.password;
    device.connection.codec = codec;
    device.model.model = options.model;
    device.model.channels = options.channels;
    device.model.inputs = options.inputs;
    device.model.outputs = options.outputs;
}

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

bool CheckCapabilityText(const std::string& text, std::string& error) {
    static const char* const kFields[] = {"channelId", "rtspPort", "qualityControlTypes",
                                          "cbrMin",    "cbrMax",   "fixedQualityOptions"};
    const std::vector<std::string> pieces = Split(text, ';');
    if (pieces.size() != 6) {
        error = "'" + text + "' has " + std::to_string(pieces.size()) +
                " fields, not the six of channelId;rtspPort;qualityControlTypes;cbrMin;cbrMax;fixedQualityOptions";
        return false;
    }
    auto wrong = [&](size_t field, const char* why) {
        error = "'" + text + "': field " + std::to_string(field + 1) + " (" + kFields[field] + ") " + why;
        return false;
    };
    if (!IsDecimal(pieces[0])) return wrong(0, "is not a number");
    if (!IsDecimal(pieces[1]) || std::stol(pieces[1]) < 1 || std::stol(pieces[1]) > 65535)
        return wrong(1, "is not a port from 1 to 65535");
    for (size_t field : {3, 4})
        if (!IsDecimal(pieces[field])) return wrong(field, "is not a number");
    if (!pieces[5].empty())
        for (const std::string& quality : Split(pieces[5], ','))
            if (!IsDecimal(quality)) return wrong(5, "is not a list of numbers separated by commas");
    return true;
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
    // -d bounds the whole run, the capability query included.
    const Clock::time_point start = Clock::now();
    const Clock::time_point end =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.duration));
    const int32_t codec = CodecCode(options.codec);
    hostkit::DriverLibrary library;
    if (!LoadDriver(library, options)) return 2;
    if (int status = TakeCapabilities(library, options, end)) return status;
    std::string error;
    DeviceConfig device;
    if (!BuildParameters(options, device.parameters, error)) {
        std::fprintf(stderr, "ombrelix-host: %s\n", error.c_str());
        return 2;
    }
    FillDevice(options, codec, device);
    std::vector<ChannelRun> runs(options.channels);
    if (int status = PrepareFiles(options, runs)) return status;

    DebugSink debug(options.quiet);
    SampleAllocator allocator;
    OpenedDriver driver;
    if (!driver.Open(library, &debug, &allocator, &device, error)) {
        std::fprintf(stderr, "ombrelix-host: %s\n", error.c_str());
        FinishFiles(runs);
        return 1;
    }
    IIPVideoCapture* capture = driver->GetVideoCapture();
    if (!capture) {
        std::fprintf(stderr, "ombrelix-host: the driver has no video capture object\n");
        driver.Close();
        FinishFiles(runs);
        return 1;
    }
    StreamConfig config(options.width, options.height, options.interval, options.quality);
    for (uint32_t i = 0; i < runs.size(); ++i) {
        runs[i].startCall = std::chrono::steady_clock::now();
        runs[i].started = capture->StartChannel(i, runs[i].sink.get(), &config);
        if (!runs[i].started) std::fprintf(stderr, "ombrelix-host: channel %u did not start\n", i);
    }
    const Clock::time_point streaming = Clock::now();
    WatchChannels(*capture, runs, options, streaming, end);
    const bool interrupted = StopRequested();
    const Clock::time_point stopped = Clock::now();
    debug.Stopping();
    StopChannels(*capture, runs);
    driver.Close();  // no frame arrives after this
    FinishFiles(runs);
    const int status = Summarize(options, runs, streaming, stopped, allocator.Outstanding(), debug.LastCause());
    return interrupted ? kInterruptedStatus : status;
}

}  // namespace host
