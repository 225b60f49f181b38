// `ombrelix-host snapshot`: one decoded picture of each channel, written as
// a PNG file.
#pragma once

#include <string>

#include "record_command.h"

namespace host {

struct SnapshotOptions : RecordOptions {
    std::string prefix = "snapshot";  // the files are <prefix>-ch<N>.png
    double timeout = 10;              // seconds the whole command may take
};

int RunSnapshot(const SnapshotOptions& options);

// The file of a channel's picture.
std::string SnapshotFile(const std::string& prefix, uint32_t channel);

}  // namespace host
