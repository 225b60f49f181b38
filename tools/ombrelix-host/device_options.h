// What every ombrelix-host command needs to reach one device.
#pragma once

#include <cstdint>
#include <string>

namespace host {

// The environment variable that carries the password when no option names
// one.
constexpr const char kPasswordVariable[] = "OMBRELIX_PASSWORD";

struct DeviceOptions {
    std::string library;  // empty: the driver built beside this program
    std::string address = "127.0.0.1";
    uint16_t port = 80;
    std::string user;
    // On the command line every local user can read it (/proc/PID/cmdline);
    // the other sources keep it out of there.
    std::string password;
    std::string passwordFile;  // its first line is the password
    bool askPassword = false;  // prompt on the terminal, without echo
};

// Fills password from the file or the terminal prompt the options name, or
// else from OMBRELIX_PASSWORD when -w did not give it. False, with a reason,
// when the file cannot be read or there is no terminal to ask on.
bool ResolvePassword(DeviceOptions& options, std::string& error);

// What is printed in place of a password.
std::string MaskedPassword(const std::string& password);

int CurrentProcessId();

}  // namespace host

namespace hostkit {
class DriverLibrary;
}

namespace host {

// Loads the driver the options name, or the one beside this program; on
// failure prints which paths were tried and why.
bool LoadDriver(hostkit::DriverLibrary& library, const DeviceOptions& options);

}  // namespace host
