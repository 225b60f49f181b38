// The settings a host starts a channel with: picture size, frame interval
// and quality.
#pragma once

#include <cstdint>

#include "ombrelix/host.h"

namespace hostkit {

class ImageSize final : public telvaro::ipcapture::IImageSize {
    OMBRELIX_DESTRUCTOR_SLOT(ImageSize)
public:
    ImageSize(uint16_t w = 640, uint16_t h = 480) : width(w), height(h) {}
    uint16_t GetWidth() override { return width; }
    uint16_t GetHeight() override { return height; }
    uint16_t width;
    uint16_t height;
};

class StreamConfig : public telvaro::ipcapture::IStreamConfig,
                     public telvaro::ipcapture::IStreamImageConfig,
                     public telvaro::ipcapture::IStreamRateConfig {
    OMBRELIX_DESTRUCTOR_SLOT(StreamConfig)
public:
    StreamConfig(uint16_t w = 640, uint16_t h = 480, uint16_t interval = 40, uint16_t q = 50)
        : size(w, h), frameInterval(interval), quality(q) {}
    // Tests derive their own.
    virtual ~StreamConfig() = default;
    telvaro::ipcapture::IStreamImageConfig* GetImageConfig() override { return this; }
    telvaro::ipcapture::IStreamRateConfig* GetRateConfig() override { return this; }
    telvaro::ipcapture::IImageSize* GetSize() override { return &size; }
    uint16_t GetFrameInterval() override { return frameInterval; }
    uint16_t GetReservedValue() override { return 0; }
    uint16_t GetQuality() override { return quality; }

    ImageSize size;
    uint16_t frameInterval;
    uint16_t quality;
};

}  // namespace hostkit
