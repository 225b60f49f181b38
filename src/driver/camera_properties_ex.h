// The polymorphic base of one capability query: asks a camera (Query) and
// writes the answer into the host's result object (Save).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "driver/camera_properties.h"
#include "core/device_info.h"
#include "core/failure_reason.h"
#include "ombrelix/host.h"

namespace telvaro {

class CCameraPropertiesEx : public CCameraProperties {
public:
    CCameraPropertiesEx(const DEVICE_INFO& device, int32_t videoStandard);
    virtual ~CCameraPropertiesEx();
    CCameraPropertiesEx(const CCameraPropertiesEx&) = delete;
    CCameraPropertiesEx& operator=(const CCameraPropertiesEx&) = delete;

    // Error code for the host when false.
    virtual bool Query(int32_t& error) = 0;
    // The protocol-independent part: name, value keys, resolutions and the
    // connection fields, in the order the host expects them.
    virtual bool Save(ipcapture::ICapabilityResults* results);
    // Records the request only; a running query ends normally.
    virtual void Terminate();

    bool TerminateRequested() const { return abort_; }
    // Why the last Query failed, as the host is told it; empty when the
    // query found no cause to name. Read on the query's thread.
    const FailureReason& QueryFailure() const { return queryFailure_; }

    // Unlike Terminate, this ends a running query early: while *flag is set,
    // the query's camera requests fail at once. The flag belongs to the
    // caller and must outlive this object.
    void SetRequestAbortFlag(const std::atomic<bool>* flag) { requestAbort_ = flag; }

protected:
    // Property index of the result object: name, reserved 0, kind, then the
    // value ("(none)" for an empty one). Nothing without a target or a name.
    static void AddProperty(ipcapture::ICapabilityResults* results, uint32_t index, const std::string& name,
                            const std::string& value, uint32_t kind);

    bool RequestAbortSet() const { return requestAbort_ && requestAbort_->load(); }

    std::atomic<bool> abort_{false};  // set from the host's thread
    const std::atomic<bool>* requestAbort_ = nullptr;
    FailureReason queryFailure_;
    DEVICE_INFO device_;
    int32_t videoStandard_;
};

}  // namespace telvaro
