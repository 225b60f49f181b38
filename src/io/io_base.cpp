#include "io/io_base.h"

#include "util/text.h"

namespace telvaro {

CIOBase::CWorkItem::~CWorkItem() = default;

CIOBase::CIOBase(IDriver* driver) : driver_(driver) {
    const uint32_t inputs = GetInputCount();
    for (uint32_t i = 0; i < inputs; ++i) inputStates_[i] = 0;
}

CIOBase::~CIOBase() { CIOBase::Stop(); }

uint32_t CIOBase::GetInputCount() { return driver_ ? driver_->GetIOCounts().first : 0; }

uint32_t CIOBase::GetOutputCount() { return driver_ ? driver_->GetIOCounts().second : 0; }

bool CIOBase::SetEventSink(ipcapture::IIOEventSink* sink) {
    if (!sink) return false;
    sink_ = sink;
    return true;
}

bool CIOBase::Start() {
    stopping_ = false;
    const uint32_t inputs = GetInputCount();
    const uint32_t outputs = GetOutputCount();
    bool initialReadFailed = false;
    if (inputs != 0 && !ReadInputs()) {
        SayWhy(Side::kInputs);
        ReportFailure();
        initialReadFailed = true;
    } else if (inputs != 0) {
        Succeeded(Side::kInputs);
    }
    if (!initialReadFailed) {
        for (uint32_t i = 0; i < outputs; ++i) {
            {
                CLockScope scope(stateLock_);
                outputStates_[i] = 1;
            }
            if (!WriteOutput(static_cast<int32_t>(i), 1)) {
                SayWhy(Side::kOutputs);
                ReportFailure();
                break;
            }
            Succeeded(Side::kOutputs);
        }
    }
    bool result = true;
    if (outputs != 0 && !thread::CWorkItemThread::Start("Digital Output thread")) result = false;
    if (inputs != 0 && !thread::CTickerThread::Start("Digital Input thread")) return false;
    return result;
}

bool CIOBase::Stop() {
    // Before the joins below, which would otherwise wait for a request under way.
    stopping_ = true;
    thread::CWorkItemThread::Stop();
    bool stopped = thread::CTickerThread::Stop();
    ResetStates();
    return stopped;
}

bool CIOBase::SetOutput(int32_t outputIndex, int32_t value) {
    auto* item = new CWorkItem(outputIndex, value);
    if (AddWorkItem(item)) return true;
    delete item;
    return false;
}

void CIOBase::ProcessWorkItem(IWorkItem* raw) {
    auto* item = static_cast<CWorkItem*>(raw);
    if (item->outputIndex < 0) return;
    const uint32_t index = static_cast<uint32_t>(item->outputIndex);
    {
        CLockScope scope(stateLock_);
        auto it = outputStates_.find(index);
        if (it == outputStates_.end() || it->second == item->value) return;
        it->second = item->value;
    }
    if (WriteOutput(item->outputIndex, item->value)) {
        Succeeded(Side::kOutputs);
    } else {
        ReportFailureUnlessStopping(Side::kOutputs);
    }
}

void CIOBase::OnTick() {
    if (ReadInputs()) {
        Succeeded(Side::kInputs);
    } else {
        ReportFailureUnlessStopping(Side::kInputs);
    }
}

void CIOBase::ResetStates() {
    const uint32_t outputs = GetOutputCount();
    const uint32_t inputs = GetInputCount();
    CLockScope scope(stateLock_);
    outputStates_.clear();
    for (uint32_t i = 0; i < outputs; ++i) outputStates_[i] = 0;
    inputStates_.clear();
    for (uint32_t i = 0; i < inputs; ++i) inputStates_[i] = 0;
}

void CIOBase::ReportInput(uint32_t index, int32_t state) {
    {
        CLockScope scope(stateLock_);
        auto it = inputStates_.find(index);
        if (it == inputStates_.end() || it->second == state) return;
        it->second = state;
    }
    if (ipcapture::IIOEventSink* sink = sink_.load()) sink->OnInputChanged(index, static_cast<uint32_t>(state));
}

void CIOBase::ReportFailure() {
    ResetStates();
    if (ipcapture::IIOEventSink* sink = sink_.load()) sink->OnIOFailure();
}

void CIOBase::ReportFailureUnlessStopping(Side side) {
    // Stop resets the states itself, and the host asked for the stop.
    if (stopping_) return;
    SayWhy(side);
    ReportFailure();
}

void CIOBase::NoteFailure(Side side, const FailureReason& reason) {
    std::lock_guard<std::mutex> guard(failureLock_);
    lastFailure_[static_cast<int>(side)] = reason;
}

void CIOBase::SayWhy(Side side) {
    const int i = static_cast<int>(side);
    std::string cause;
    {
        std::lock_guard<std::mutex> guard(failureLock_);
        cause = lastFailure_[i].Empty() ? std::string("the device operation failed") : lastFailure_[i].text;
        lastFailure_[i] = FailureReason();
        if (!toldCauses_[i].insert(cause).second) return;
    }
    if (!driver_) return;
    driver_->DebugMessage(kMessageNotice, "%s: Camera %s: %s: %s", "telvaro::CIOBase::ReportFailure",
                          driver_->GetDeviceInfo().address.c_str(),
                          side == Side::kInputs ? "digital inputs" : "digital outputs", cause.c_str());
}

void CIOBase::Succeeded(Side side) {
    std::lock_guard<std::mutex> guard(failureLock_);
    toldCauses_[static_cast<int>(side)].clear();
}

int32_t CIOBase::GetInputState(uint32_t index) {
    CLockScope scope(stateLock_);
    auto it = inputStates_.find(index);
    return it == inputStates_.end() ? 0 : it->second;
}

int32_t CIOBase::GetOutputValue(uint32_t index) {
    CLockScope scope(stateLock_);
    auto it = outputStates_.find(index);
    return it == outputStates_.end() ? 0 : it->second;
}

}  // namespace telvaro
