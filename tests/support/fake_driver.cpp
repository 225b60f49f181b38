#include "support/fake_driver.h"

#include <cstdarg>

#include "driver/config_file.h"
#include "util/text.h"

namespace fakes {

FakeDriver::FakeDriver() {
    info_.address = "127.0.0.1";
    info_.noDataTimeout = 10000;
}

void FakeDriver::DebugMessage(telvaro::DebugMessageType type, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = telvaro::FormatTextV(format, args);
    va_end(args);
    std::lock_guard<std::mutex> lock(mu_);
    messages_.push_back({type, text});
    cv_.notify_all();
}

telvaro::DEVICE_INFO FakeDriver::GetDeviceInfo() {
    std::lock_guard<std::mutex> lock(mu_);
    return info_;
}

void FakeDriver::SetDeviceInfo(const telvaro::DEVICE_INFO& info) {
    std::lock_guard<std::mutex> lock(mu_);
    info_ = info;
}

void FakeDriver::SetParameter(int32_t index, const std::string& text) {
    std::lock_guard<std::mutex> lock(mu_);
    parameters_[index] = text;
}

std::string FakeDriver::GetParameterText(int32_t index) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = parameters_.find(index);
    if (it == parameters_.end() || it->second == "(none)") return std::string();
    return it->second;
}

int32_t FakeDriver::GetParameterInt(int32_t index) {
    std::string text = GetParameterText(index);
    int32_t value = 0;
    if (text.empty() || !telvaro::ParseDecimal(text, value)) return telvaro::kNoParameterInt;
    return value;
}

std::vector<DriverMessage> FakeDriver::Messages() {
    std::lock_guard<std::mutex> lock(mu_);
    return messages_;
}

size_t FakeDriver::CountMessages(const std::string& fragment) {
    std::lock_guard<std::mutex> lock(mu_);
    size_t n = 0;
    for (const auto& m : messages_) n += m.text.find(fragment) != std::string::npos;
    return n;
}

bool FakeDriver::WaitForMessage(const std::string& fragment, int timeoutMs) {
    return WaitFor(mu_, cv_, timeoutMs, [&] {
        for (const auto& m : messages_)
            if (m.text.find(fragment) != std::string::npos) return true;
        return false;
    });
}

void FakeDriver::ClearMessages() {
    std::lock_guard<std::mutex> lock(mu_);
    messages_.clear();
}

telvaro::TransportMode FakeDriver::GetRtpMode(uint32_t channel) {
    return telvaro::GetRtpMode(GetDeviceInfo(), channel, name);
}

}  // namespace fakes
