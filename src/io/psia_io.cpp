#include "io/psia_io.h"

#include "psia/common_client.h"

namespace telvaro {

CPSIAIO::CPSIAIO(IDriver* driver) : CIOBase(driver) {}

CPSIAIO::~CPSIAIO() { Stop(); }

bool CPSIAIO::ReadInputs() {
    CCommonClient client;
    client.SetAbortFlag(AbortFlag());
    if (!driver_) return false;
    if (!client.Connect(driver_->GetDeviceInfo())) {
        NoteFailure(Side::kInputs, client.LastFailure());
        return false;
    }
    const uint32_t inputs = GetInputCount();
    for (uint32_t i = 0; i < inputs; ++i) {
        bool inactive = false;
        if (!client.GetInputInactive(i, inactive)) {
            NoteFailure(Side::kInputs, client.LastFailure());
            return false;
        }
        ReportInput(i, inactive ? ipcapture::kInputInactive : ipcapture::kInputActive);
    }
    return true;
}

bool CPSIAIO::WriteOutput(int32_t outputIndex, int32_t value) {
    if (outputIndex < 0) return false;
    CCommonClient client;
    client.SetAbortFlag(AbortFlag());
    if (!driver_) return false;
    if (!client.Connect(driver_->GetDeviceInfo())) {
        NoteFailure(Side::kOutputs, client.LastFailure());
        return false;
    }
    if (client.TriggerOutput(static_cast<uint32_t>(outputIndex), value == 1)) return true;
    NoteFailure(Side::kOutputs, client.LastFailure());
    return false;
}

}  // namespace telvaro
