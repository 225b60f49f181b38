#include "support/gst_rtsp_peer.h"

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <vector>

namespace fakes {

namespace {

// Debian's interpreter: it has python3-gi; another python3 on PATH may not.
constexpr char kPython[] = "/usr/bin/python3";
constexpr int kListenTimeoutMs = 15000;

}  // namespace

GstRtspPeer::GstRtspPeer(Options options) : options_(std::move(options)) {}

GstRtspPeer::~GstRtspPeer() = default;

bool GstRtspPeer::Start(std::string* error) {
    auto fail = [&](const std::string& why) {
        const std::string log = Log();
        process_.Stop();
        if (error) *error = "GStreamer RTSP server " + std::string(OMBRELIX_GST_RTSP_SERVER) + ": " + why +
                            (log.empty() ? "" : "\n" + log);
        return false;
    };
    const std::vector<std::string> args = {
        kPython, OMBRELIX_GST_RTSP_SERVER, "--port", "0", "--log",
        "--codec", options_.codec, "--auth", options_.auth,
        "--user", options_.user, "--password", options_.password,
        "--width", std::to_string(options_.width), "--height", std::to_string(options_.height),
        "--fps", std::to_string(options_.fps), "--lifetime", std::to_string(options_.lifetimeSeconds),
        "--session-timeout", std::to_string(options_.sessionTimeoutSeconds),
        "--end-sessions-after", std::to_string(options_.endSessionsAfterSeconds),
        "--close-clients-after", std::to_string(options_.closeClientsAfterSeconds)};
    std::string why;
    if (!process_.Spawn(args, {}, "", &why)) return fail(why);

    // The server prints its port once it listens.
    std::string line;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kListenTimeoutMs);
    while (line.find('\n') == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
        if (left <= 0) return fail("did not listen within " + std::to_string(kListenTimeoutMs) + " ms");
        pollfd p{process_.Stdout(), POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        char buffer[64];
        const ssize_t n = read(process_.Stdout(), buffer, sizeof(buffer));
        if (n <= 0) {
            int status = 0;
            if (!process_.Ended(5000, &status)) return fail("closed its output before it listened");
            return fail(PeerProcess::ExitText(status) + " before it listened");
        }
        line.append(buffer, static_cast<size_t>(n));
    }
    const long port = std::strtol(line.c_str(), nullptr, 10);
    if (port <= 0 || port > 65535) return fail("printed no port but \"" + line + "\"");
    port_ = static_cast<uint16_t>(port);
    return true;
}

std::string GstRtspPeer::Log() const { return process_.Log(); }

}  // namespace fakes
