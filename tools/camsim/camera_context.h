// What the HTTP and RTSP sides of one camera share.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>

#include "camsim/camera_config.h"
#include "camsim/channel_table.h"
#include "camsim/clip_library.h"
#include "camsim/faults.h"
#include "camsim/io_ports.h"
#include "camsim/request_log.h"

namespace camsim {

struct CameraContext {
    explicit CameraContext(const CameraConfig& c)
        : config(c), channels(c.channels), io(c.inputs, c.outputs, c.firstIoPortId) {}

    // Waits the reply delay knob, or less when the camera stops meanwhile.
    void DelayReply() {
        uint32_t ms = faults.replyDelayMs.load();
        if (ms == 0) return;
        std::unique_lock<std::mutex> lock(stopMutex);
        stopSignal.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping; });
    }
    void SignalStop() {
        std::lock_guard<std::mutex> lock(stopMutex);
        stopping = true;
        stopSignal.notify_all();
    }

    const CameraConfig config;
    ChannelTable channels;
    ClipLibrary clips;
    IoPorts io;
    Faults faults;
    RequestLog log;
    std::atomic<uint16_t> httpPort{0};
    std::atomic<uint16_t> rtspPort{0};
    std::atomic<uint32_t> reboots{0};
    std::atomic<uint64_t> rtpPacketsSent{0};
    std::atomic<uint64_t> rtcpPacketsReceived{0};

    // Counts a frame of the channel about to be sent; false once the
    // channel's frame limit is spent.
    bool TakeFrame(uint32_t channelId, uint64_t limit) {
        std::lock_guard<std::mutex> lock(framesMutex);
        uint64_t& sent = framesSent[channelId];
        if (limit != 0 && sent >= limit) return false;
        ++sent;
        return true;
    }
    std::map<uint32_t, uint64_t> FramesSent() {
        std::lock_guard<std::mutex> lock(framesMutex);
        return framesSent;
    }
    std::mutex framesMutex;
    std::map<uint32_t, uint64_t> framesSent;

    std::mutex stopMutex;
    std::condition_variable stopSignal;
    bool stopping = false;
};

}  // namespace camsim
