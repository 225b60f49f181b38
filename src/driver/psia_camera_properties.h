// The capability query of a PSIA camera: device information, the first
// streaming channel's capabilities and the I/O port lists.
#pragma once

#include <cstdint>
#include <vector>

#include "driver/camera_properties_ex.h"
#include "psia/psia_records.h"

namespace telvaro {

class CPSIACameraProperties : public CCameraPropertiesEx {
public:
    CPSIACameraProperties(const DEVICE_INFO& device, int32_t videoStandard);
    ~CPSIACameraProperties() override;

    bool Query(int32_t& error) override;
    // Codecs, resolutions and frame intervals from the capability records,
    // then the base part, then the video standard and one capability text
    // per record as properties.
    bool Save(ipcapture::ICapabilityResults* results) override;

    std::vector<ChannelCapabilities> capabilities;
};

}  // namespace telvaro
