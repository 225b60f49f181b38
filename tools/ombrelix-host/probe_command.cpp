#include "probe_command.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>

#include <nlohmann/json.hpp>

#include "ombrelix/exports.h"
#include "record_command.h"

namespace host {

namespace {

using namespace telvaro::ipcapture;

std::string Text(const char* t) { return t ? t : ""; }

// Collects everything the query writes into the host's result object.
class Results final : public ICapabilityResults, public ICapabilityQueryCallback {
    OMBRELIX_DESTRUCTOR_SLOT(Results)
public:
    explicit Results(ProbeResult& out) : out_(out), resolutions_(this), intervals_(this) {}

    void SetValue(uint32_t key, uint32_t value) override {
        std::lock_guard<std::mutex> lock(mu_);
        out_.values[key] = value;
    }
    void SetName(const char* name) override {
        std::lock_guard<std::mutex> lock(mu_);
        out_.name = Text(name);
    }
    ITextField* GetConnectionField(uint32_t field) override {
        std::lock_guard<std::mutex> lock(mu_);
        auto& slot = fields_[field];
        if (!slot) slot.reset(new Field(this, field));
        return slot.get();
    }
    IProperty* GetProperty(uint32_t index) override {
        std::lock_guard<std::mutex> lock(mu_);
        auto& slot = properties_[index];
        if (!slot) slot.reset(new Property(this, index));
        return slot.get();
    }
    IResolutionList* GetResolutionList() override { return &resolutions_; }
    IFrameIntervalList* GetFrameIntervalList(uint32_t) override { return &intervals_; }

    void OnSuccess() override {
        std::lock_guard<std::mutex> lock(mu_);
        out_.succeeded = true;
        done_ = true;
        cv_.notify_all();
    }
    void OnFailure(int32_t code, const char* message) override {
        std::lock_guard<std::mutex> lock(mu_);
        out_.failureCode = code;
        out_.failureMessage = Text(message);
        done_ = true;
        cv_.notify_all();
    }
    // Until the answer, the time-out or a stop request (a signal handler
    // cannot wake the wait, so it is looked at every 100 ms).
    bool WaitDone(double seconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                                 std::chrono::duration<double>(seconds));
        std::unique_lock<std::mutex> lock(mu_);
        while (!done_ && !StopRequested() && std::chrono::steady_clock::now() < end)
            cv_.wait_for(lock, std::chrono::milliseconds(100));
        return done_;
    }

private:
    class Field final : public ITextField {
        OMBRELIX_DESTRUCTOR_SLOT(Field)
    public:
        Field(Results* owner, uint32_t id) : owner_(owner), id_(id) {}
        void SetText(const char* text) override {
            std::lock_guard<std::mutex> lock(owner_->mu_);
            owner_->out_.connectionFields[id_] = Text(text);
        }

    private:
        Results* owner_;
        uint32_t id_;
    };
    class Property final : public IProperty {
        OMBRELIX_DESTRUCTOR_SLOT(Property)
    public:
        Property(Results* owner, uint32_t index) : owner_(owner), index_(index) {}
        void SetValue(const char* v) override { Edit([&](ProbeResult::Property& p) { p.value = Text(v); }); }
        void SetKind(uint32_t k) override { Edit([&](ProbeResult::Property& p) { p.kind = k; }); }
        void SetName(const char* n) override { Edit([&](ProbeResult::Property& p) { p.name = Text(n); }); }
        void SetReserved(uint32_t r) override { Edit([&](ProbeResult::Property& p) { p.reserved = r; }); }

    private:
        template <typename F>
        void Edit(F f) {
            std::lock_guard<std::mutex> lock(owner_->mu_);
            f(owner_->out_.properties[index_]);
        }
        Results* owner_;
        uint32_t index_;
    };
    class ResolutionList final : public IResolutionList {
        OMBRELIX_DESTRUCTOR_SLOT(ResolutionList)
    public:
        explicit ResolutionList(Results* owner) : owner_(owner) {}
        void Add(const char* text, uint32_t w, uint32_t h, uint32_t interval) override {
            std::lock_guard<std::mutex> lock(owner_->mu_);
            owner_->out_.resolutions.push_back({Text(text), w, h, interval});
        }

    private:
        Results* owner_;
    };
    class IntervalList final : public IFrameIntervalList {
        OMBRELIX_DESTRUCTOR_SLOT(IntervalList)
    public:
        explicit IntervalList(Results* owner) : owner_(owner) {}
        void SetDefault(uint32_t interval) override {
            std::lock_guard<std::mutex> lock(owner_->mu_);
            owner_->out_.hasDefaultInterval = true;
            owner_->out_.defaultInterval = interval;
        }
        void Add(uint32_t interval) override {
            std::lock_guard<std::mutex> lock(owner_->mu_);
            owner_->out_.intervals.push_back(interval);
        }

    private:
        Results* owner_;
    };

    ProbeResult& out_;
    std::mutex mu_;
    std::condition_variable cv_;
    bool done_ = false;
    std::map<uint32_t, std::unique_ptr<Field>> fields_;
    std::map<uint32_t, std::unique_ptr<Property>> properties_;
    ResolutionList resolutions_;
    IntervalList intervals_;
};

// Names of the codecs the query reported (value keys 8, 6 and 7).
std::vector<std::string> CodecNames(const ProbeResult& r) {
    std::vector<std::string> names;
    auto has = [&](uint32_t key) { return r.values.count(key) && r.values.at(key) != 0; };
    if (has(8)) names.push_back("H.264");
    if (has(6)) names.push_back("MPEG-4");
    if (has(7)) names.push_back("JPEG");
    return names;
}

std::string JoinNames(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& name : names) out += (out.empty() ? "" : ", ") + name;
    return out.empty() ? "(none)" : out;
}

}  // namespace

std::vector<std::string> ProbeResult::CapabilityTexts() const {
    std::vector<std::string> texts;
    for (uint32_t index = 2; properties.count(index); ++index) texts.push_back(properties.at(index).value);
    return texts;
}

bool QueryCapabilities(hostkit::DriverLibrary& library, const ProbeOptions& options, ProbeResult& result,
                       std::string& error) {
    auto init = library.Get<ombrelix_abi::InitCapabilityQueryFn>("InitCapabilityQuery");
    auto start = library.Get<ombrelix_abi::StartCapabilityQueryFn>("StartCapabilityQuery");
    auto uninit = library.Get<ombrelix_abi::UninitCapabilityQueryFn>("UninitCapabilityQuery");
    if (!init || !start || !uninit) {
        error = library.Path() + " has no capability query";
        return false;
    }
    result = ProbeResult();
    Results results(result);
    if (!init(&results, options.videoStandard ? 1 : 0)) {
        error = "a capability query is registered already";
        return false;
    }
    bool ok = start(options.address.c_str(), options.port, options.user.c_str(), options.password.c_str(),
                    &results) != 0;
    if (!ok) {
        error = "the query could not be started";
    } else if (!results.WaitDone(options.timeout)) {
        error = StopRequested() ? "interrupted" : "no answer within " + std::to_string(options.timeout) + " s";
        ok = false;
    }
    uninit();
    return ok;
}

std::string ProbeJson(const ProbeResult& r) {
    nlohmann::json j;
    j["succeeded"] = r.succeeded;
    if (!r.succeeded) {
        j["failure"] = {{"code", r.failureCode}, {"message", r.failureMessage}};
    }
    j["name"] = r.name;
    j["codecs"] = CodecNames(r);
    nlohmann::json values = nlohmann::json::object();
    for (const auto& v : r.values) values[std::to_string(v.first)] = v.second;
    j["values"] = values;
    j["inputs"] = r.values.count(2) ? r.values.at(2) : 0;
    j["outputs"] = r.values.count(3) ? r.values.at(3) : 0;
    nlohmann::json resolutions = nlohmann::json::array();
    for (const auto& res : r.resolutions)
        resolutions.push_back({{"text", res.text}, {"width", res.width}, {"height", res.height}, {"interval", res.interval}});
    j["resolutions"] = resolutions;
    j["frameIntervals"] = r.intervals;
    if (r.hasDefaultInterval) j["defaultFrameInterval"] = r.defaultInterval;
    nlohmann::json fields = nlohmann::json::object();
    for (const auto& f : r.connectionFields) fields[std::to_string(f.first)] = f.first == 4 ? MaskedPassword(f.second) : f.second;
    j["connectionFields"] = fields;
    nlohmann::json properties = nlohmann::json::array();
    for (const auto& p : r.properties)
        properties.push_back({{"index", p.first}, {"name", p.second.name}, {"value", p.second.value},
                              {"kind", p.second.kind}, {"reserved", p.second.reserved}});
    j["properties"] = properties;
    j["capabilityTexts"] = r.CapabilityTexts();
    return j.dump(2);
}

std::string FailureText(const ProbeResult& r, const DeviceOptions& options) {
    const bool noUser = options.user.empty() && r.failureMessage.find("HTTP 401") != std::string::npos;
    return r.failureMessage + " (code " + std::to_string(r.failureCode) + ")" +
           (noUser ? "; no user name was given (-u)" : "");
}

int RunProbe(const ProbeOptions& options) {
    hostkit::DriverLibrary library;
    if (!LoadDriver(library, options)) return 2;
    ProbeResult r;
    std::string error;
    if (!QueryCapabilities(library, options, r, error)) {
        std::fprintf(stderr, "ombrelix-host: capability query: %s\n", error.c_str());
        return StopRequested() ? kInterruptedStatus : 1;
    }
    if (options.json) {
        std::printf("%s\n", ProbeJson(r).c_str());
        return r.succeeded ? 0 : 1;
    }
    if (!r.succeeded) {
        std::printf("query failed: %s\n", FailureText(r, options).c_str());
        return 1;
    }
    std::printf("name:            %s\n", r.name.c_str());
    std::printf("codecs:          %s\n", JoinNames(CodecNames(r)).c_str());
    std::printf("video channel:   %u\n", r.values.count(0) ? r.values.at(0) : 0);
    std::printf("inputs/outputs:  %u / %u\n", r.values.count(2) ? r.values.at(2) : 0,
                r.values.count(3) ? r.values.at(3) : 0);
    std::printf("resolutions:\n");
    for (const auto& res : r.resolutions)
        std::printf("  %-12s %5u x %-5u every %u ms\n", res.text.c_str(), res.width, res.height, res.interval);
    std::printf("frame intervals (ms):");
    for (uint32_t i : r.intervals) std::printf(" %u%s", i, r.hasDefaultInterval && i == r.defaultInterval ? "*" : "");
    std::printf("   (* default)\n");
    std::printf("properties:\n");
    for (const auto& p : r.properties)
        std::printf("  %u  %-24s kind %u  %s\n", p.first, p.second.name.c_str(), p.second.kind, p.second.value.c_str());
    std::vector<std::string> texts = r.CapabilityTexts();
    if (!texts.empty()) {
        std::printf("record with:    ");
        // Quoted for the shell the user types into.
#if defined(_WIN32)
        for (const std::string& t : texts) std::printf(" --capability \"%s\"", t.c_str());
#else
        for (const std::string& t : texts) std::printf(" --capability '%s'", t.c_str());
#endif
        std::printf("\n");
    }
    return 0;
}

}  // namespace host
