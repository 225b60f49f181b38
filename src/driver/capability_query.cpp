#include "driver/capability_query.h"

#include <string>

#include "driver/psia_camera_properties.h"
#include "platform/clock.h"
#include "platform/thread_cancel.h"

namespace telvaro {

namespace {

constexpr int32_t kQueryError = 3;

std::string Text(const char* text) { return text ? text : ""; }

}  // namespace

// Everything a query thread works with; the thread owns it, so nothing it
// touches belongs to the query state.
struct CCapabilityQuery::Job {
    std::unique_ptr<DEVICE_INFO> device;
    ipcapture::ICapabilityQueryCallback* callback = nullptr;
    ipcapture::ICapabilityResults* results = nullptr;
    int32_t videoStandard = 0;
    Factory factory;
    std::shared_ptr<Current> current;
};

CCapabilityQuery::CCapabilityQuery(Factory factory, uint32_t uninitWaitMs)
    : factory_(std::move(factory)), uninitWaitMs_(uninitWaitMs), current_(std::make_shared<Current>()) {}

CCapabilityQuery::~CCapabilityQuery() = default;

int32_t CCapabilityQuery::Init(ipcapture::ICapabilityQueryCallback* callback, uint8_t videoStandard) {
    if (callback_) return 0;
    callback_ = callback;
    videoStandard_ = videoStandard != 0;
    return 1;
}

int32_t CCapabilityQuery::Start(const char* address, uint16_t port, const char* userName, const char* password,
                                ipcapture::ICapabilityResults* results) {
    results_ = results;
    bool started = false;
    try {
        auto job = std::make_shared<Job>();
        job->device.reset(new DEVICE_INFO());
        job->device->address = Text(address);
        job->device->port = port;
        job->device->userName = Text(userName);
        job->device->password = Text(password);
        job->callback = callback_;
        job->results = results_;
        job->videoStandard = videoStandard_ ? 1 : 0;
        job->factory = factory_;
        job->current = current_;
        // Queries that have ended are let go here; one still running stays
        // for Uninit to wait for.
        threads_.remove_if([](const thread::CThreadOwner& t) { return !t.IsRunning(); });
        threads_.emplace_back();
        started = threads_.back().Start([job] { Run(*job); }, "CapabilityQuery");
        if (!started) threads_.pop_back();
    } catch (...) {
        platform::SwallowUnlessCancelled();
    }
    return started ? 1 : 0;
}

int32_t CCapabilityQuery::Terminate() {
    if (std::shared_ptr<CCameraPropertiesEx> properties = CurrentProperties()) properties->Terminate();
    return 1;
}

int32_t CCapabilityQuery::Uninit() {
    if (std::shared_ptr<CCameraPropertiesEx> properties = CurrentProperties()) properties->Terminate();
    // A query waiting on a slow camera would otherwise outlast the bound.
    current_->abort = true;
    // One bound for all; one that cannot be ended keeps its own query state.
    const uint64_t deadline = platform::MonotonicMilliseconds() + uninitWaitMs_;
    for (thread::CThreadOwner& t : threads_) {
        const uint64_t now = platform::MonotonicMilliseconds();
        t.Join(static_cast<uint32_t>(deadline > now ? deadline - now : 0));
    }
    threads_.clear();
    {
        // A query that outlived its stop may be inside a host call right now:
        // this waits for that call, and none follows.
        std::lock_guard<std::mutex> guard(current_->hostLock);
        current_->detached = true;
    }
    callback_ = nullptr;
    results_ = nullptr;
    {
        std::lock_guard<std::mutex> guard(current_->lock);
        current_->properties.reset();
    }
    // A thread that outlived its stop keeps the old holder to itself.
    current_ = std::make_shared<Current>();
    return 1;
}

std::shared_ptr<CCameraPropertiesEx> CCapabilityQuery::CurrentProperties() {
    std::lock_guard<std::mutex> guard(current_->lock);
    return current_->properties;
}

bool CCapabilityQuery::CallHost(Current& current, const std::function<void()>& call) {
    // The guard is held across the host's code on purpose: Uninit takes it to
    // detach the query, so it cannot return while a call is under way.
    std::lock_guard<std::mutex> guard(current.hostLock);
    if (current.detached) return false;
    call();
    return true;
}

void CCapabilityQuery::Run(Job& job) {
    if (!job.callback) return;
    int32_t error = kQueryError;
    std::shared_ptr<CCameraPropertiesEx> properties;
    try {
        if (job.factory) {
            properties = job.factory(*job.device, job.videoStandard);
        } else {
            properties = std::make_shared<CPSIACameraProperties>(*job.device, job.videoStandard);
        }
    } catch (...) {
        platform::SwallowUnlessCancelled();
    }
    job.device.reset();
    if (!properties) {
        CallHost(*job.current, [&] { job.callback->OnFailure(error, "Failed to create camera properties object"); });
        return;
    }
    properties->SetRequestAbortFlag(&job.current->abort);
    {
        std::lock_guard<std::mutex> guard(job.current->lock);
        job.current->properties = properties;
    }

    bool queried = false;
    try {
        queried = properties->Query(error);
    } catch (...) {
        platform::SwallowUnlessCancelled();
        error = kQueryError;
    }
    if (!queried) {
        // The cause follows the message the host knows, so that a host that
        // looks for the message still finds it.
        std::string message = "Failed to get camera properties";
        const FailureReason& cause = properties->QueryFailure();
        if (!cause.Empty() && !cause.text.empty()) message += ": " + cause.text;
        CallHost(*job.current, [&] { job.callback->OnFailure(error, message.c_str()); });
        return;
    }

    // Saving writes into the host's result target: it runs under the guard.
    CallHost(*job.current, [&] {
        bool saved = false;
        try {
            saved = properties->Save(job.results);
        } catch (...) {
            platform::SwallowUnlessCancelled();
        }
        if (saved) {
            job.callback->OnSuccess();
        } else {
            job.callback->OnFailure(error, "Failed to save capability query results");
        }
    });
}

}  // namespace telvaro
