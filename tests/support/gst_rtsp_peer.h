// GStreamer's RTSP server (tests/peers/gst_rtsp_server.py) as a peer this
// project did not write: started as a child process on a free port of
// 127.0.0.1, stopped with its whole process group when the object goes.
#pragma once

#include <cstdint>
#include <string>

#include "support/peer_process.h"

namespace fakes {

class GstRtspPeer {
public:
    struct Options {
        std::string codec = "h264";  // h264, h264-noaud, jpeg, mpeg4
        std::string auth = "none";   // none, basic, digest
        std::string user = "admin";
        std::string password = "admin";
        int width = 320;
        int height = 240;
        int fps = 25;
        int lifetimeSeconds = 120;  // the server ends by itself after this
        int sessionTimeoutSeconds = 0;        // 0: the server's default
        double endSessionsAfterSeconds = 0;   // drops each session this long after its PLAY
        double closeClientsAfterSeconds = 0;  // closes each connection this long after its PLAY
    };

    explicit GstRtspPeer(Options options);
    ~GstRtspPeer();
    GstRtspPeer(const GstRtspPeer&) = delete;
    GstRtspPeer& operator=(const GstRtspPeer&) = delete;

    // Runs the server and waits until it listens. False with the reason (the
    // server's own output included) when it cannot start.
    bool Start(std::string* error);
    uint16_t Port() const { return port_; }
    // What the server wrote on stderr so far: every RTSP request and reply,
    // GStreamer's warnings.
    std::string Log() const;

private:
    Options options_;
    PeerProcess process_;
    uint16_t port_ = 0;
};

}  // namespace fakes
