// The per-device object through which the host starts, changes, stops and
// watches the device's video channels.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "channel/camera_channel.h"
#include "driver/custom_creator.h"
#include "ombrelix/capture.h"
#include "thread/recursive_lock.h"

namespace telvaro {

class CIPVideoCapture : public ipcapture::IIPVideoCaptureEx {
    OMBRELIX_DESTRUCTOR_SLOT(CIPVideoCapture)
public:
    CIPVideoCapture(uint32_t channelCount, ICustomCreator* factory);
    virtual ~CIPVideoCapture();

    uint32_t GetChannelCount() override;
    bool StartChannel(uint32_t channel, ipcapture::IStreamSink* sink, ipcapture::IStreamConfig* settings) override;
    bool StopChannel(uint32_t channel) override;
    bool ChangeChannel(uint32_t channel, ipcapture::IImageSize* size, uint32_t frameInterval) override;
    int32_t GetReservedValue() override { return 0; }
    bool GetChannelStatus(uint32_t channel, uint32_t* state, uint32_t* errorCode, char* text,
                          uint32_t textSize) override;
    bool ReservedOperationA(uint32_t, uint32_t, uint32_t) override { return false; }
    bool ReservedOperationB(uint32_t, uint32_t, uint32_t) override { return false; }
    bool ReservedOperationC(uint32_t) override { return false; }
    bool ReservedOperationD(uint32_t) override { return false; }

private:
    std::shared_ptr<ICameraChannel> Lookup(uint32_t channel);
    bool StopChannelLocked(uint32_t channel);
    static void KeepIfAbandoned(const std::shared_ptr<ICameraChannel>& channel);

    ICustomCreator* const factory_;
    CRecursiveLock lock_;  // guards channels_ only
    std::vector<std::shared_ptr<ICameraChannel>> channels_;
    // One per place: keeps start, change and stop of one channel in order
    // without holding lock_ while a channel starts or stops.
    std::vector<std::unique_ptr<std::mutex>> placeOps_;
};

}  // namespace telvaro
