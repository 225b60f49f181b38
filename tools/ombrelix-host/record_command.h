// `ombrelix-host record`: opens one device through the driver, starts its
// channels and writes what they deliver.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "device_options.h"
#include "host_objects.h"

namespace host {

struct RecordOptions : DeviceOptions {
    std::string codec = "h264";  // h264, mpeg4, jpeg
    std::string model = "PSIA";
    uint32_t channels = 1;
    uint32_t inputs = 0;
    uint32_t outputs = 0;
    std::vector<std::string> parameters;    // INDEX=TEXT
    std::vector<std::string> capabilities;  // parameters 2, 3, ... in order
    uint16_t width = 640;
    uint16_t height = 480;
    uint16_t interval = 40;
    uint16_t quality = 50;
    double duration = 10;
    std::string output = ".";
    std::string format = "mkv";  // mkv, mp4, raw
    bool overwrite = false;
    bool quiet = false;
    bool json = false;      // the summary as JSON
    bool discard = false;   // count frames without writing them
    bool progress = false;  // a machine-readable line of totals every second
    bool probe = false;  // take the capability texts from a capability query first
    // A channel delivering less than this share of the asked frame rate
    // fails the run.
    double minRatePercent = 50;
    std::string transport;  // the transport the driver was configured for, for the status and summary
};

int RunRecord(const RecordOptions& options);

// The capability texts the channels read: as given, or from the camera's
// capability query when none were given or --probe asks for it. Returns an
// exit status, 0 to go on.
int TakeCapabilities(hostkit::DriverLibrary& library, RecordOptions& options,
                     std::chrono::steady_clock::time_point end);
// The device as the options describe it, for a codec code.
void FillDevice(const RecordOptions& options, int32_t codec, DeviceConfig& device);

// Codec code of the host interface for a codec name; 0 when unknown.
int32_t CodecCode(const std::string& name);
// Builds the device's parameter table: parameter 1 defaults to "0", the
// capability texts take 2, 3, ..., and INDEX=TEXT pairs override.
bool BuildParameters(const RecordOptions& options, std::map<int32_t, std::string>& out, std::string& error);
// Checks a capability text's six fields; false naming the first wrong one.
bool CheckCapabilityText(const std::string& text, std::string& error);

// Set by SIGINT/SIGTERM: commands end early and clean up.
bool StopRequested();
void InstallStopHandler();
// The exit status after an interrupt, as shells give it.
constexpr int kInterruptedStatus = 130;

}  // namespace host
