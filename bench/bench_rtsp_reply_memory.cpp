// Peak resident memory of RTSP clients whose camera never ends its reply:
// one endless header line, endless header lines, and a body announced as
// 4 GiB. Each client must fail its DESCRIBE once the reply outgrows its
// bound (64 KiB), so the peak stays near the baseline however much the
// camera sends.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "driver/config_file.h"
#include "rtsp/rtsp_client.h"
#include "support/hostile_rtsp_peer.h"

namespace {

using namespace telvaro;
using Clock = std::chrono::steady_clock;

class SilentUser : public IRTPReceiverUser {
public:
    void OnRTPPacket(const RTPPacket*) override {}
    void OnRTPPacketFrom(const platform::Ipv4Endpoint*, const RTPPacket*) override {}
    void OnReceiveTimeout() override {}
    void OnReceiveClosed() override {}
    void SetMediaConfig(const MediaConfig&) override {}
};

// A field of /proc/self/status in KiB (VmRSS, VmHWM).
long StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string wanted = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.compare(0, wanted.size(), wanted) == 0) return std::stol(line.substr(wanted.size()));
    }
    return -1;
}

// Starts the peak over from the current resident size (Linux 4.0 and later).
bool ResetPeak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    return static_cast<bool>(clear);
}

struct Case {
    const char* name;
    std::string reply;
    std::string endless;
};

bool Run(const Case& c, int clients) {
    fakes::HostileRtspPeer peer;
    fakes::HostileScript script;
    script.replies = {c.reply};
    script.endless = c.endless;
    peer.SetScript(script);
    if (!peer.Start()) return false;
    SilentUser user;
    const long before = StatusKiB("VmRSS");
    const bool reset = ResetPeak();
    const Clock::time_point start = Clock::now();
    bool allFailed = true;
    std::vector<std::string> failures;
    for (int i = 0; i < clients; ++i) {
        RtspParams params;
        params.host = "127.0.0.1";
        params.serverPort = peer.Port();
        params.urlPath = "/PSIA/Streaming/channels/1";
        CBaseRTSPClient client;
        if (!client.Open(params, &user, kRtpOverUdp)) return false;
        allFailed = client.SetupEnded().Wait(10000) && !client.Playing() && allFailed;
        failures.push_back(client.LastFailure().text);
        client.Close();
    }
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count() / clients;
    const long peak = StatusKiB("VmHWM");
    std::printf("%-26s %d clients, %6.1f ms each to fail; peer sent %7.1f KiB each; resident %ld KiB before, "
                "peak %ld KiB (%+ld KiB)%s\n",
                c.name, clients, ms, peer.BytesSent() / 1024.0 / clients, before, peak, peak - before,
                reset ? "" : " [peak not reset: whole-process figure]");
    std::printf("%-26s failure: %s\n", "", failures.empty() ? "" : failures.back().c_str());
    return allFailed;
}

}  // namespace

int main() {
    const Case cases[] = {
        {"one endless header line", "RTSP/1.0 200 OK\r\nCSeq: 1\r\nX-Pad: ", std::string(65536, 'a')},
        {"endless header lines", "RTSP/1.0 200 OK\r\nCSeq: 1\r\n", std::string(4096, 'a') + "\r\n"},
        {"a body announced as 4 GiB", "RTSP/1.0 200 OK\r\nCSeq: 1\r\nContent-Length: 4294967295\r\n\r\n",
         std::string(65536, 'b')},
    };
    bool ok = true;
    for (const Case& c : cases) {
        ok = Run(c, 20) && ok;
    }
    return ok ? 0 : 1;
}
