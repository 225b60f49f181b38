// The running part of `record`: one status line per channel every second
// while the channels stream, and their stop.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host_objects.h"
#include "ombrelix/capture.h"
#include "record_command.h"

namespace host {

struct ChannelRun {
    std::unique_ptr<StreamSink> sink;
    std::string file;  // the final name; empty once nothing was kept
    std::string partialFile;
    std::string log;
    std::string partialLog;
    std::string fileError;
    bool started = false;
    // When StartChannel was called: the first frame's delay counts from it.
    std::chrono::steady_clock::time_point startCall;
    uint32_t finalState = 2;
    StreamStats last;  // at the previous status line
};

// The host interface's channel states by name.
const char* ChannelStateName(uint32_t state);

// Until end or a stop request: a status line per channel each second on a
// terminal, and the --progress line.
void WatchChannels(IIPVideoCapture& capture, std::vector<ChannelRun>& runs, const RecordOptions& options,
                   std::chrono::steady_clock::time_point start, std::chrono::steady_clock::time_point end);
// Notes each channel's last state and stops all channels at once, so that
// their stop bounds do not add up.
void StopChannels(IIPVideoCapture& capture, std::vector<ChannelRun>& runs);
// Stops channels 0 to count - 1 at once.
void StopAllChannels(IIPVideoCapture& capture, uint32_t count);

}  // namespace host
