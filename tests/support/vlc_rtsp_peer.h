// VLC's RTSP stream output (Debian's vlc-bin) as a peer this project did not
// write: a file made with ffmpeg at start, streamed as it is (no transcoding)
// by `#rtp{sdp=rtsp://...}` on 127.0.0.1, RTP over UDP only. VLC refuses to
// run as root, so under root it runs as nobody.
#pragma once

#include <cstdint>
#include <string>

#include "support/peer_process.h"

namespace fakes {

class VlcRtspPeer {
public:
    struct Options {
        std::string codec = "h264";  // h264, mpeg4, mjpeg
        std::string user;            // with a password: RTSP Basic
        std::string password;
        int width = 320;
        int height = 240;
        int fps = 25;
        // VLC plays the file from its start, sessions or not, and a session
        // ends with the file (--loop ends them too): longer than the test.
        int fileSeconds = 40;
        int sessionTimeoutSeconds = 0;  // --rtsp-timeout; 0: VLC's default (60 s)
    };

    explicit VlcRtspPeer(Options options);
    ~VlcRtspPeer();
    VlcRtspPeer(const VlcRtspPeer&) = delete;
    VlcRtspPeer& operator=(const VlcRtspPeer&) = delete;

    // Makes the file, runs VLC and waits until it listens. False with the
    // reason (VLC's own output included) when it cannot start.
    bool Start(std::string* error);
    uint16_t Port() const { return port_; }
    // VLC's log (-vv): its RTSP requests and sessions among the rest.
    std::string Log() const { return process_.Log(); }

private:
    bool MakeFile(std::string* error);

    Options options_;
    PeerProcess process_;
    std::string dir_;
    std::string file_;
    uint16_t port_ = 0;
};

}  // namespace fakes
