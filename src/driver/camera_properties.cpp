#include "driver/camera_properties.h"

#include <algorithm>

namespace telvaro {

uint32_t CCameraProperties::FrameInterval(uint32_t rate) {
    if (rate == 0) return 1;
    // Rates above 2000 would round to 0 ms, which tells the host nothing.
    return std::max<uint32_t>(1, static_cast<uint32_t>(1000.0 / rate + 0.5));
}

void CCameraProperties::AddResolution(const Resolution& entry) {
    if (entry.width != 0) {
        for (const Resolution& listed : resolutions) {
            if (listed.width == entry.width && listed.height == entry.height) return;
        }
    }
    resolutions.push_back(entry);
}

}  // namespace telvaro
