// Protocol-independent digital I/O of a device: the "Digital Input thread"
// polls every input every 2000 ms and reports changes, the "Digital Output
// thread" applies requested output values one by one, in order.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "core/failure_reason.h"
#include "core/idriver.h"
#include "ombrelix/capture.h"
#include "thread/recursive_lock.h"
#include "thread/ticker_thread.h"
#include "thread/work_item_thread.h"

namespace telvaro {

class CIOBase : public ICaptureIOApi, public thread::CWorkItemThread, public thread::CTickerThread {
    OMBRELIX_DESTRUCTOR_SLOT(CIOBase)
public:
    class CWorkItem : public thread::CWorkItemThread::IWorkItem {
    public:
        CWorkItem(int32_t outputIndex, int32_t value) : outputIndex(outputIndex), value(value) {}
        ~CWorkItem() override;
        int32_t outputIndex;
        int32_t value;
    };

    explicit CIOBase(IDriver* driver);
    // Derived classes call Stop in their own destructor, while their device
    // operations can still be reached.
    ~CIOBase() override;

    bool SetEventSink(ipcapture::IIOEventSink* sink) override;
    bool Start() override;
    bool Stop() override;
    uint32_t GetInputCount() override;
    uint32_t GetOutputCount() override;
    bool SetOutput(int32_t outputIndex, int32_t value) override;

    // Drives one output on the device.
    virtual bool WriteOutput(int32_t outputIndex, int32_t value) = 0;
    // Reads every input from the device and reports changes (ReportInput).
    virtual bool ReadInputs() = 0;

    void ProcessWorkItem(IWorkItem* item) override;
    void OnTick() override;

    // States: 0 not known, 1 inactive, 2 active.
    int32_t GetInputState(uint32_t index);
    int32_t GetOutputValue(uint32_t index);

protected:
    enum class Side { kInputs, kOutputs };

    void ResetStates();
    void ReportInput(uint32_t index, int32_t state);
    void ReportFailure();
    // Why the last ReadInputs (kInputs) or WriteOutput (kOutputs) failed; a
    // device operation notes it before it returns false.
    void NoteFailure(Side side, const FailureReason& reason);
    // Set from the start of Stop until the next Start: device operations
    // give up their requests at once, so that Stop does not wait for a
    // stalled camera.
    const std::atomic<bool>* AbortFlag() const { return &stopping_; }

    IDriver* const driver_;

private:
    // A device operation that fails while Stop runs was cut short by it: no
    // failure of the device.
    void ReportFailureUnlessStopping(Side side);
    // Tells the host through the debug sink why a device operation failed,
    // once per cause until that side works again: a camera that stays away
    // is not reported on every poll.
    void SayWhy(Side side);
    void Succeeded(Side side);

    std::atomic<bool> stopping_{false};
    std::atomic<ipcapture::IIOEventSink*> sink_{nullptr};
    CRecursiveLock stateLock_;  // guards both maps
    std::map<uint32_t, int32_t> inputStates_;
    std::map<uint32_t, int32_t> outputStates_;
    std::mutex failureLock_;  // guards the two members below
    FailureReason lastFailure_[2];
    std::set<std::string> toldCauses_[2];
};

}  // namespace telvaro
