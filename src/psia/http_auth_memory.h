// What each camera asked for in its last 401 answer: the scheme and, for
// Digest, the values to sign with and the nonce count reached. Channels,
// the input poll and the capability query each make fresh HTTP senders, so
// a sender's own memory would be lost at every (re)connect and every poll;
// kept here instead, per device (address, port and user name) for the life
// of the process, the extra round trip of a 401 is paid once per device and
// a later sender answers at once. One lock guards the table, since senders
// of one device run on several threads.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "psia/http_challenge.h"
#include "thread/recursive_lock.h"

namespace Web {

struct HttpAuthRecord {
    uint32_t scheme = 0;  // kHttpAuthBasic or kHttpAuthDigest
    std::string realm;
    std::string nonce;
    std::string opaque;
    bool algorithmNamed = false;
    bool qopAuth = false;
    uint32_t nonceCount = 0;  // requests signed with nonce so far
};

class CHttpAuthMemory {
public:
    static CHttpAuthMemory& Instance();

    static std::string DeviceKey(const std::string& address, uint16_t port, const std::string& userName);

    // The device's record with its nonce count advanced for one more request;
    // false while the device has asked for nothing.
    bool Next(const std::string& device, HttpAuthRecord& record);
    // What an answerable challenge asks for replaces the device's record; the
    // count starts again for a new nonce.
    void Learn(const std::string& device, const HttpChallenge& challenge);
    uint32_t Scheme(const std::string& device);
    // As a driver that has met no camera yet.
    void ForgetAll();

private:
    // Beyond this many devices the one used longest ago is forgotten.
    static constexpr size_t kMaxDevices = 1024;

    struct Entry {
        HttpAuthRecord record;
        uint64_t lastUse = 0;
    };

    CHttpAuthMemory() = default;

    telvaro::CRecursiveLock lock_;
    std::map<std::string, Entry> entries_;
    uint64_t uses_ = 0;
};

}  // namespace Web
