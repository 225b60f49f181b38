// What every ombrelix-host command needs to reach one device.
#pragma once

#include <cstdint>
#include <string>

namespace host {

struct DeviceOptions {
    std::string library;  // empty: the driver built beside this program
    std::string address = "127.0.0.1";
    uint16_t port = 80;
    std::string user;
    std::string password;
};

}  // namespace host
