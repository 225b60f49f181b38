// `ombrelix-host probe`: runs the driver's capability query against a camera
// and shows what a host receives.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "hostkit/driver_library.h"

#include "device_options.h"

namespace host {

struct ProbeOptions : DeviceOptions {
    bool json = false;
    bool videoStandard = false;
    double timeout = 60;
};

struct ProbeResult {
    bool succeeded = false;
    int32_t failureCode = 0;
    std::string failureMessage;
    std::string name;
    std::map<uint32_t, uint32_t> values;
    std::map<uint32_t, std::string> connectionFields;
    struct Property {
        std::string name;
        std::string value;
        uint32_t kind = 0;
        uint32_t reserved = 0;
    };
    std::map<uint32_t, Property> properties;
    struct Resolution {
        std::string text;
        uint32_t width = 0;
        uint32_t height = 0;
        uint32_t interval = 0;
    };
    std::vector<Resolution> resolutions;
    std::vector<uint32_t> intervals;
    bool hasDefaultInterval = false;
    uint32_t defaultInterval = 0;

    // The per-channel capability texts (properties 2, 3, ...), in order.
    std::vector<std::string> CapabilityTexts() const;
};

// Runs one query through the library's exports; false with a reason when
// the query could not be run at all (a failing camera is a result).
bool QueryCapabilities(hostkit::DriverLibrary& library, const ProbeOptions& options, ProbeResult& result,
                       std::string& error);
int RunProbe(const ProbeOptions& options);
// The result as JSON, the password the query wrote back (connection field
// 4) masked.
std::string ProbeJson(const ProbeResult& result);
// Why a query failed, as the host was told, with a hint when the camera
// refused a request that carried no user name.
std::string FailureText(const ProbeResult& result, const DeviceOptions& options);

}  // namespace host
