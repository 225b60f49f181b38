// The camera's PSIA resources over HTTP (cpp-httplib), with Basic and
// Digest authentication done here, since the library has no server side
// for Digest.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "camsim/authenticator.h"
#include "camsim/camera_context.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace camsim {

class HttpService {
public:
    // onReboot runs when a client reboots the camera.
    HttpService(CameraContext& context, std::function<void()> onReboot);
    ~HttpService();
    HttpService(const HttpService&) = delete;
    HttpService& operator=(const HttpService&) = delete;

    bool Start(std::string* error);
    void Stop();
    uint16_t Port() const { return port_; }

private:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;
    // Logs, delays and authenticates, then runs the handler.
    Handler Guard(Handler handler);
    void Routes();
    void Answer(httplib::Response& res, const httplib::Request& req, int statusCode, const std::string& text);

    // The channel the path names, or a 404 answer.
    bool ChannelOf(const httplib::Request& req, httplib::Response& res, ChannelConfig& channel);
    void GetChannel(const httplib::Request& req, httplib::Response& res);
    void PutChannel(const httplib::Request& req, httplib::Response& res);
    void PutChannelList(const httplib::Request& req, httplib::Response& res);
    void GetCapabilities(const httplib::Request& req, httplib::Response& res);
    bool IoFailed(const httplib::Request& req, httplib::Response& res);
    // An input's state, or an output's (active meaning high).
    void PortStatus(const httplib::Request& req, httplib::Response& res, bool input);

    CameraContext& context_;
    std::function<void()> onReboot_;
    Authenticator auth_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    uint16_t port_ = 0;
};

}  // namespace camsim
