// The driver configuration file "<driver name>.xml" next to the host's
// executable, which chooses per device and channel how RTP is carried.
#pragma once

#include <cstdint>
#include <string>

#include "core/device_info.h"
#include "core/transport_mode.h"

namespace telvaro {

// Transport mode for a device's channel (zero-based). Reads the file afresh
// at every call; a missing or unreadable file, or an unknown mode text, gives
// kRtpOverUdp. Only address and port of the device are used.
TransportMode GetRtpMode(const DEVICE_INFO& device, uint32_t channel, const std::string& driverName);

}  // namespace telvaro
