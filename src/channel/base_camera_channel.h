// Common base of every camera channel: the channel thread with its stop
// event and bounded stop, the state code, the clock of the last frame, the
// socket-layer registration and the reports of the camera going online and
// offline.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "channel/camera_channel.h"
#include "core/idriver.h"
#include "ombrelix/host.h"
#include "thread/event.h"
#include "thread/recursive_lock.h"
#include "thread/thread_owner.h"

namespace telvaro {

class CBaseCameraChannel : public ICameraChannel {
public:
    CBaseCameraChannel(IDriver* driver, uint32_t channelNumber, ipcapture::IStreamSink* sink);
    // Derived classes call Stop in their own destructor, while their Run can
    // still be reached; this one only catches what is left.
    ~CBaseCameraChannel() override;

    bool Start(const CHANNEL_PARAMS& params) override;
    void Stop() override;
    bool Restart(const CHANNEL_PARAMS& params) override;
    ChannelState GetState() override;
    void SetState(ChannelState state) override;

    // The channel thread's body.
    virtual int32_t Run() = 0;
    // Called after the stop event is set and before the wait for the thread.
    virtual void OnStopRequested();
    // Whether the channel can run with these settings; one that cannot says
    // why and is neither started nor restarted. Every setting is fine here.
    virtual bool AcceptsSettings(const CHANNEL_PARAMS& params);

    void TouchData();
    uint32_t MillisecondsSinceData();
    // Reports a change of the camera's state once; a stopped channel does
    // not report the camera online again until it is started.
    void SetCameraState(bool online);

    // True once a stop had to give up on the channel thread (or one of the
    // threads that call into the channel): it may still run, so the channel
    // must never be freed and is not started again.
    bool ThreadAbandoned() const { return abandoned_.load(); }

    CHANNEL_PARAMS GetParams() const { return params_; }
    bool IsOnline() const { return online_.load(); }

protected:
    // Sets the stop event, waits up to twice the device time-out for the
    // thread and forces it to stop after that.
    void StopThread();
    bool StartThread();
    // Called by the stop when the thread had to be ended by force (it did
    // not tidy up after itself) and the whole object still exists.
    virtual void OnThreadForced();
    void MarkAbandoned() { abandoned_ = true; }
    // "Camera <address>", or "Video-server <address> (channel <n>)" on a
    // device with several channels.
    std::string DeviceName() const;

    bool winsockStarted_ = false;
    std::atomic<bool> online_{false};
    CRecursiveLock stateLock_;
    ChannelState state_ = kStateStopped;
    CRecursiveLock dataLock_;
    uint64_t lastData_ = 0;  // monotonic milliseconds
    const uint32_t channelNumber_;
    IDriver* const driver_;
    ipcapture::IStreamSink* const sink_;
    CHANNEL_PARAMS params_;
    CManualEvent stopEvent_;
    // Set with the stop event: the thread's own network exchanges give up
    // as soon as they see it.
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> abandoned_{false};
    thread::CThreadOwner thread_{[this] {
        stopRequested_ = true;
        stopEvent_.Set();
    }};

private:
    struct Report {
        DebugMessageType type = kMessageNotice;
        std::string text;
    };
    Report MakeReport(bool online);
    void DeliverReports();

    // Guards the state changes and the queue of their reports, so that
    // reports reach the host in the order of the changes.
    std::mutex reportLock_;
    bool stopping_ = false;
    std::deque<Report> pendingReports_;
    bool delivering_ = false;
};

}  // namespace telvaro
