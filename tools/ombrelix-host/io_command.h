// `ombrelix-host io`: watches a device's digital inputs and sets outputs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device_options.h"

namespace host {

struct IoOptions : DeviceOptions {
    std::string model = "PSIA";
    uint32_t inputs = 1;
    uint32_t outputs = 0;
    std::vector<std::string> set;  // INDEX=VALUE, written in order after start
    double duration = 10;
};

int RunIo(const IoOptions& options);

}  // namespace host
