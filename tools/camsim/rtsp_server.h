// The camera's RTSP server (RFC 2326): accepts connections, keeps the
// session table and ends sessions that were not kept alive.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "camsim/authenticator.h"
#include "camsim/camera_context.h"
#include "camsim/rtsp_session.h"

namespace camsim {

class RtspConnection;

class RtspServer {
public:
    explicit RtspServer(CameraContext& context);
    ~RtspServer();
    RtspServer(const RtspServer&) = delete;
    RtspServer& operator=(const RtspServer&) = delete;

    bool Start(std::string* error);
    void Stop();
    uint16_t Port() const { return port_; }
    // Closes every connection now; their sessions end with them.
    void DropConnections();

    void AddSession(std::shared_ptr<RtspSession> session, uint64_t connection);
    std::shared_ptr<RtspSession> FindSession(const std::string& id);
    bool RemoveSession(const std::string& id);
    void RemoveSessionsOf(uint64_t connection);
    size_t SessionCount() const;

private:
    struct SessionEntry {
        std::shared_ptr<RtspSession> session;
        uint64_t connection;
    };

    void AcceptLoop();
    void ExpireSessions();
    void ReapConnections(bool all);

    CameraContext& context_;
    Authenticator auth_;
    int listenFd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread acceptor_;
    uint64_t nextConnection_ = 1;

    std::mutex connectionsMutex_;
    std::vector<std::unique_ptr<RtspConnection>> connections_;

    mutable std::mutex sessionsMutex_;
    std::map<std::string, SessionEntry> sessions_;
};

}  // namespace camsim
