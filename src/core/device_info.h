// The device description every part that talks to the camera works from;
// handed out as copies.
#pragma once

#include <cstdint>
#include <string>

namespace telvaro {

struct DEVICE_INFO {
    DEVICE_INFO() = default;
    DEVICE_INFO(const DEVICE_INFO&) = default;
    DEVICE_INFO& operator=(const DEVICE_INFO&) = default;
    virtual ~DEVICE_INFO() = default;

    uint32_t timeout = 5000;        // network time-out, milliseconds
    uint32_t noDataTimeout = 5000;  // longest time without a frame, milliseconds
    std::string address;
    uint16_t port = 80;
    std::string userName;
    std::string password;
    std::string deviceModel;
};

}  // namespace telvaro
