// What `record` tells at its end, per channel, as text or JSON, and the exit
// status that follows from it.
#pragma once

#include <chrono>
#include <vector>

#include "channel_watch.h"

namespace host {

// Prints the summary; 0 when every channel delivered at the asked rate
// without losing its signal and every sample came back, else 1. lastCause,
// the latest failure cause the driver gave, goes with a channel that
// delivered nothing or lost its signal.
int Summarize(const RecordOptions& options, const std::vector<ChannelRun>& runs,
              std::chrono::steady_clock::time_point start, std::chrono::steady_clock::time_point end,
              int outstandingSamples, const std::string& lastCause);

}  // namespace host
