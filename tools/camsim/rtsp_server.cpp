#include "camsim/rtsp_server.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "camsim/rtsp_connection.h"

namespace camsim {

namespace {

// As deep as the HTTP side's: every channel of a recorder connects at once.
constexpr int kListenBacklog = 1024;

}  // namespace

RtspServer::RtspServer(CameraContext& context)
    : context_(context),
      auth_(context.config.rtspAuth, context.config.user, context.config.password, context.config.realm, false) {}

RtspServer::~RtspServer() { Stop(); }

bool RtspServer::Start(std::string* error) {
    listenFd_ = socket(AF_INET, SOCK_STREAM, 0);
    if (listenFd_ < 0) {
        if (error) *error = "cannot create the RTSP socket";
        return false;
    }
    int on = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(context_.config.rtspPort);
    socklen_t length = sizeof a;
    if (inet_pton(AF_INET, context_.config.address.c_str(), &a.sin_addr) != 1 ||
        bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listenFd_, kListenBacklog) != 0 ||
        getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
        if (error) *error = "cannot listen for RTSP on " + context_.config.address + ":" +
                            std::to_string(context_.config.rtspPort);
        close(listenFd_);
        listenFd_ = -1;
        return false;
    }
    port_ = ntohs(a.sin_port);
    stop_ = false;
    acceptor_ = std::thread(&RtspServer::AcceptLoop, this);
    return true;
}

void RtspServer::Stop() {
    stop_ = true;
    if (acceptor_.joinable()) acceptor_.join();
    if (listenFd_ >= 0) {
        close(listenFd_);
        listenFd_ = -1;
    }
    ReapConnections(true);
    std::map<std::string, SessionEntry> sessions;
    {
        std::lock_guard<std::mutex> lock(sessionsMutex_);
        sessions.swap(sessions_);
    }
    for (auto& s : sessions) s.second.session->Stop();
}

void RtspServer::AcceptLoop() {
    while (!stop_) {
        pollfd p{listenFd_, POLLIN, 0};
        int r = poll(&p, 1, 100);
        ExpireSessions();
        ReapConnections(false);
        if (r <= 0) continue;
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        int fd = accept(listenFd_, reinterpret_cast<sockaddr*>(&peer), &length);
        if (fd < 0) continue;
        if (context_.faults.refuseRtsp) {
            close(fd);
            continue;
        }
        auto connection = std::make_unique<RtspConnection>(fd, peer, nextConnection_++, context_, *this, auth_);
        connection->Start();
        std::lock_guard<std::mutex> lock(connectionsMutex_);
        connections_.push_back(std::move(connection));
    }
}

void RtspServer::ReapConnections(bool all) {
    std::vector<std::unique_ptr<RtspConnection>> done;
    {
        std::lock_guard<std::mutex> lock(connectionsMutex_);
        for (auto it = connections_.begin(); it != connections_.end();) {
            if (all || (*it)->Finished()) {
                done.push_back(std::move(*it));
                it = connections_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& c : done) c->Close();
    done.clear();  // joins
}

void RtspServer::DropConnections() {
    std::lock_guard<std::mutex> lock(connectionsMutex_);
    for (auto& c : connections_) c->Close();
}

// Every session must be kept alive by requests that name it, interleaved
// ones too: media flowing on the connection does not count, as on cameras
// that enforce the time-out they announce.
void RtspServer::ExpireSessions() {
    const std::chrono::seconds timeout(context_.config.sessionTimeoutSeconds);
    std::vector<std::shared_ptr<RtspSession>> expired;
    {
        std::lock_guard<std::mutex> lock(sessionsMutex_);
        for (auto it = sessions_.begin(); it != sessions_.end();) {
            if (it->second.session->IdleLongerThan(timeout)) {
                expired.push_back(it->second.session);
                it = sessions_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& s : expired) s->Stop();
}

void RtspServer::AddSession(std::shared_ptr<RtspSession> session, uint64_t connection) {
    std::string id = session->Id();
    std::lock_guard<std::mutex> lock(sessionsMutex_);
    sessions_[id] = SessionEntry{std::move(session), connection};
}

std::shared_ptr<RtspSession> RtspServer::FindSession(const std::string& id) {
    std::lock_guard<std::mutex> lock(sessionsMutex_);
    auto it = sessions_.find(id);
    return it == sessions_.end() ? nullptr : it->second.session;
}

bool RtspServer::RemoveSession(const std::string& id) {
    std::shared_ptr<RtspSession> session;
    {
        std::lock_guard<std::mutex> lock(sessionsMutex_);
        auto it = sessions_.find(id);
        if (it == sessions_.end()) return false;
        session = it->second.session;
        sessions_.erase(it);
    }
    session->Stop();
    return true;
}

void RtspServer::RemoveSessionsOf(uint64_t connection) {
    std::vector<std::shared_ptr<RtspSession>> owned;
    {
        std::lock_guard<std::mutex> lock(sessionsMutex_);
        for (auto it = sessions_.begin(); it != sessions_.end();) {
            if (it->second.connection == connection) {
                owned.push_back(it->second.session);
                it = sessions_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& s : owned) s->Stop();
}

size_t RtspServer::SessionCount() const {
    std::lock_guard<std::mutex> lock(sessionsMutex_);
    return sessions_.size();
}

}  // namespace camsim
