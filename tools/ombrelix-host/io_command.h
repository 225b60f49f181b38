// `ombrelix-host io`: watches a device's digital inputs and sets outputs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace host {

struct IoOptions {
    std::string library;
    std::string address = "127.0.0.1";
    uint16_t port = 80;
    std::string user;
    std::string password;
    std::string model = "PSIA";
    uint32_t inputs = 1;
    uint32_t outputs = 0;
    std::vector<std::string> set;  // INDEX=VALUE, written in order after start
    double duration = 10;
};

int RunIo(const IoOptions& options);

}  // namespace host
