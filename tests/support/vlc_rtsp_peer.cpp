#include "support/vlc_rtsp_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

namespace fakes {

namespace {

constexpr char kVlc[] = "/usr/bin/vlc";
constexpr char kAccount[] = "nobody";
constexpr int kListenTimeoutMs = 15000;
constexpr int kAttempts = 3;

// A port nobody listens on now; VLC cannot be given port 0, so a port taken
// meanwhile is a failed attempt and the next attempt takes another.
uint16_t UnusedPort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    uint16_t port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(s);
    return port;
}

}  // namespace

VlcRtspPeer::VlcRtspPeer(Options options) : options_(std::move(options)) {}

VlcRtspPeer::~VlcRtspPeer() {
    process_.Stop();
    // The file and what VLC keeps in its home.
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
}

bool VlcRtspPeer::MakeFile(std::string* error) {
    char dirTemplate[] = "/tmp/vlc_rtsp_peer_XXXXXX";
    if (!mkdtemp(dirTemplate)) return *error = "no folder for the file", false;
    dir_ = dirTemplate;
    // VLC, as another user, reads the file and keeps its settings here.
    chmod(dir_.c_str(), 0755);
    if (const passwd* account = geteuid() == 0 ? getpwnam(kAccount) : nullptr) {
        if (chown(dir_.c_str(), account->pw_uid, account->pw_gid) != 0) return *error = "cannot hand over " + dir_, false;
    }
    std::string encoder;
    if (options_.codec == "h264") {
        file_ = dir_ + "/clip.mp4";
        encoder = "-c:v libx264 -preset ultrafast -pix_fmt yuv420p";
    } else if (options_.codec == "mpeg4") {
        file_ = dir_ + "/clip.mp4";
        encoder = "-c:v mpeg4 -q:v 5";
    } else if (options_.codec == "mjpeg") {
        file_ = dir_ + "/clip.mkv";
        // RTP/JPEG carries no Huffman tables: the standard ones, as RFC 2435 has it.
        encoder = "-c:v mjpeg -huffman default -pix_fmt yuvj420p -q:v 5";
    } else {
        return *error = "no codec " + options_.codec, false;
    }
    // A key frame every second, so that a session is soon decodable.
    const std::string command = "timeout 120 ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=" +
                                std::to_string(options_.width) + "x" + std::to_string(options_.height) +
                                ":rate=" + std::to_string(options_.fps) + " -t " +
                                std::to_string(options_.fileSeconds) + " " + encoder + " -g " +
                                std::to_string(options_.fps) + " '" + file_ + "' 2>&1";
    std::string said;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return *error = "ffmpeg not started", false;
    char buffer[512];
    while (fgets(buffer, sizeof(buffer), pipe)) said += buffer;
    const int status = pclose(pipe);
    if (status != 0) return *error = "ffmpeg made no file: " + command + "\n" + said, false;
    return true;
}

bool VlcRtspPeer::Start(std::string* error) {
    std::string why;
    auto fail = [&](const std::string& reason) {
        const std::string log = Log();
        process_.Stop();
        if (error) *error = std::string("VLC RTSP server ") + kVlc + ": " + reason + (log.empty() ? "" : "\n" + log);
        return false;
    };
    if (!MakeFile(&why)) return fail(why);
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        const uint16_t port = UnusedPort();
        if (port == 0) return fail("no free port");
        std::vector<std::string> args = {kVlc, "-I", "dummy", "-vv", "--no-audio", "--sout",
                                         "#rtp{sdp=rtsp://127.0.0.1:" + std::to_string(port) +
                                             "/PSIA/Streaming/channels/1}"};
        if (options_.sessionTimeoutSeconds > 0) {
            args.insert(args.end(), {"--rtsp-timeout", std::to_string(options_.sessionTimeoutSeconds)});
        }
        if (!options_.user.empty()) {
            args.insert(args.end(), {"--sout-rtsp-user", options_.user, "--sout-rtsp-pwd", options_.password});
        }
        args.push_back(file_);
        if (!process_.Spawn(args, {"HOME=" + dir_, "PATH=/usr/bin:/bin"}, kAccount, &why)) return fail(why);
        // VLC says it listens before it binds; a bind that failed follows.
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kListenTimeoutMs);
        for (;;) {
            const std::string log = Log();
            if (log.find("socket bind error") != std::string::npos) break;
            if (log.find("using sout stream module \"stream_out_rtp\"") != std::string::npos) {
                port_ = port;
                return true;
            }
            int status = 0;
            if (process_.Ended(0, &status)) return fail(PeerProcess::ExitText(status) + " before it listened");
            if (std::chrono::steady_clock::now() > end) {
                return fail("did not listen within " + std::to_string(kListenTimeoutMs) + " ms");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        process_.Stop();
    }
    return fail("port taken " + std::to_string(kAttempts) + " times");
}

}  // namespace fakes
