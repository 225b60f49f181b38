// The built library driven as a recorder host drives it, for the tests
// against RTSP servers this project did not write: the driver configuration
// file beside the test program, and channel 0 of a camera whose PSIA side
// is one port and whose RTSP server is another. Header only: the library's
// path is the including program's OMBRELIX_LIBRARY_PATH.
#pragma once

#include <limits.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "hostkit/driver_library.h"
#include "ombrelix/exports.h"
#include "support/fake_host.h"

namespace fakes {

inline std::string ConfigurationFile() {
    char path[PATH_MAX + 1] = {0};
    ssize_t n = readlink("/proc/self/exe", path, PATH_MAX);
    std::string exe(path, n > 0 ? static_cast<size_t>(n) : 0);
    return exe.substr(0, exe.rfind('/') + 1) + "Ombrelix.xml";
}

inline void WriteConfiguration(uint16_t httpPort, const std::string& transport) {
    std::ofstream out(ConfigurationFile(), std::ios::trunc);
    out << "<?xml version=\"1.0\"?><Configuration><Device address=\"127.0.0.1\" port=\"" << httpPort
        << "\"><VideoChannel><RTPMode>" << transport << "</RTPMode></VideoChannel></Device></Configuration>";
}

struct LibraryHost {
    LibraryHost(uint16_t width, uint16_t height, int fps)
        : settings{width, height, static_cast<uint16_t>(1000 / fps), 50} {}

    hostkit::DriverLibrary library{OMBRELIX_LIBRARY_PATH};
    FakeDebugSink debug;
    FakeSampleAllocator allocator;
    FakeDeviceConfig device;
    FakeStreamSink sink;
    FakeStreamConfig settings;
    std::unique_ptr<telvaro::ipcapture::IIPCaptureDriverEx3, ombrelix_abi::DeleteIPCaptureEx3Fn> driver{nullptr,
                                                                                                      nullptr};

    // Opens the driver and starts the channel; false at the first step that fails.
    bool Start(uint16_t httpPort, uint16_t rtspPort, const std::string& user, const std::string& password) {
        if (!library.Loaded()) return false;
        device.connection.port = httpPort;
        device.connection.user = user;
        device.connection.password = password;
        device.parameters[2] = "1;" + std::to_string(rtspPort) + ";VBR;64;8192;20,40,60,80,100";
        driver = {library.Get<ombrelix_abi::CreateIPCaptureEx3Fn>("CreateIPCaptureEx3")(),
                  library.Get<ombrelix_abi::DeleteIPCaptureEx3Fn>("DeleteIPCaptureEx3")};
        return driver && driver->Open(&debug, &allocator, &device) &&
               driver->GetVideoCapture()->StartChannel(0, &sink, &settings);
    }
    void Stop() {
        EXPECT_TRUE(driver->GetVideoCapture()->StopChannel(0));
        driver->Close();
        driver.reset();
    }
    // What the driver reported, a line each, for a failure's story.
    std::string Story() {
        std::string story;
        for (const auto& r : debug.Records()) story += "driver: " + r.text + "\n";
        return story;
    }
};

}  // namespace fakes
