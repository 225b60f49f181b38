#include "psia/http_auth_memory.h"

#include <algorithm>

namespace Web {

CHttpAuthMemory& CHttpAuthMemory::Instance() {
    // Destroyed with the library: a host that unloads the driver gets its
    // memory back. Every sender has finished by then, since closing the
    // driver stops every thread that makes one.
    static CHttpAuthMemory memory;
    return memory;
}

std::string CHttpAuthMemory::DeviceKey(const std::string& address, uint16_t port, const std::string& userName) {
    return address + '\n' + std::to_string(port) + '\n' + userName;
}

bool CHttpAuthMemory::Next(const std::string& device, HttpAuthRecord& record) {
    telvaro::CLockScope scope(lock_);
    auto it = entries_.find(device);
    if (it == entries_.end()) return false;
    ++it->second.record.nonceCount;
    it->second.lastUse = ++uses_;
    record = it->second.record;
    return true;
}

void CHttpAuthMemory::Learn(const std::string& device, const HttpChallenge& challenge) {
    if (!challenge.Answerable()) return;
    HttpAuthRecord learned;
    learned.scheme = challenge.scheme;
    learned.realm = challenge.Param("realm");
    learned.nonce = challenge.Param("nonce");
    learned.opaque = challenge.Param("opaque");
    learned.algorithmNamed = challenge.params.count("algorithm") != 0;
    learned.qopAuth = challenge.QopAuth();

    telvaro::CLockScope scope(lock_);
    auto it = entries_.find(device);
    if (it == entries_.end()) {
        if (entries_.size() >= kMaxDevices) {
            entries_.erase(std::min_element(entries_.begin(), entries_.end(), [](const auto& a, const auto& b) {
                return a.second.lastUse < b.second.lastUse;
            }));
        }
        it = entries_.emplace(device, Entry()).first;
    }
    HttpAuthRecord& record = it->second.record;
    if (learned.scheme == record.scheme && learned.nonce == record.nonce) learned.nonceCount = record.nonceCount;
    record = learned;
    it->second.lastUse = ++uses_;
}

uint32_t CHttpAuthMemory::Scheme(const std::string& device) {
    telvaro::CLockScope scope(lock_);
    auto it = entries_.find(device);
    return it == entries_.end() ? 0 : it->second.record.scheme;
}

void CHttpAuthMemory::ForgetAll() {
    telvaro::CLockScope scope(lock_);
    entries_.clear();
}

}  // namespace Web
