#include "hostkit/device_config.h"

namespace hostkit {

const char* DeviceConfig::GetParameter(int32_t index) {
    auto it = parameters.find(index);
    return it == parameters.end() ? nullptr : it->second.c_str();
}

}  // namespace hostkit
