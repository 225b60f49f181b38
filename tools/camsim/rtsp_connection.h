// One RTSP connection: reads requests (and interleaved frames a client
// sends, such as its RTCP receiver reports), answers them, and owns the
// sessions set up on it.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "camsim/authenticator.h"
#include "camsim/camera_context.h"
#include "camsim/rtsp_request.h"
#include "camsim/socket_writer.h"

namespace camsim {

class RtspServer;

class RtspConnection {
public:
    RtspConnection(int fd, const sockaddr_in& peer, uint64_t id, CameraContext& context, RtspServer& server,
                   Authenticator& auth);
    ~RtspConnection();
    RtspConnection(const RtspConnection&) = delete;
    RtspConnection& operator=(const RtspConnection&) = delete;

    void Start();
    // Unblocks the reader; the thread ends soon after.
    void Close();
    void Join();
    bool Finished() const { return finished_; }

private:
    struct Reply {
        int status = 200;
        std::vector<std::pair<std::string, std::string>> headers;
        std::string body;
    };

    void Run();
    // Consumes what it can of the buffer; false ends the connection.
    bool Process(std::string& buffer);
    void Handle(const RtspRequest& request);
    void Send(const RtspRequest& request, Reply reply, const std::string& sessionId);

    void Options(const RtspRequest& request, Reply& reply);
    void Describe(const RtspRequest& request, Reply& reply);
    void Setup(const RtspRequest& request, Reply& reply, std::string& sessionId);
    void Play(const RtspRequest& request, Reply& reply, const std::string& sessionId);
    bool CheckAuth(const RtspRequest& request, Reply& reply);
    // The channel a URL names and the clip it streams now; null when either is missing.
    std::shared_ptr<const ServedClip> StreamOf(const RtspRequest& request, ChannelConfig& channel);

    const int fd_;
    const sockaddr_in peer_;
    const uint64_t id_;
    CameraContext& context_;
    RtspServer& server_;
    Authenticator& auth_;
    std::shared_ptr<SocketWriter> writer_;
    std::thread thread_;
    std::atomic<bool> finished_{false};
};

}  // namespace camsim
