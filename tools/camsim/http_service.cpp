#include "camsim/http_service.h"

#include <httplib.h>
#include <sys/socket.h>

#include <chrono>

#include "camsim/psia_xml.h"
#include "camsim/text_util.h"

namespace camsim {

namespace {

const char kXml[] = "application/xml; charset=\"UTF-8\"";
// Hundreds of channels of one camera connect at once when a recorder
// starts. The library listens with a queue of 5: connections beyond the
// queue are dropped by the kernel and tried again by the client only after
// a second or more.
constexpr int kListenBacklog = 1024;

bool IdOf(const httplib::Request& req, uint32_t& id) { return req.matches.size() > 1 && ParseUint(req.matches[1], id); }

}  // namespace

HttpService::HttpService(CameraContext& context, std::function<void()> onReboot)
    : context_(context),
      onReboot_(std::move(onReboot)),
      auth_(context.config.httpAuth, context.config.user, context.config.password, context.config.realm, true) {}

HttpService::~HttpService() { Stop(); }

bool HttpService::Start(std::string* error) {
    server_ = std::make_unique<httplib::Server>();
    server_->new_task_queue = [] { return new httplib::ThreadPool(16); };
    // Short idle and read limits keep Stop prompt with clients still connected.
    server_->set_keep_alive_timeout(1);
    server_->set_read_timeout(3, 0);
    server_->set_write_timeout(3, 0);
    server_->set_payload_max_length(1 << 20);
    // The library writes a reply's header and its body apart: with Nagle's
    // algorithm the body then waits for the client's delayed ACK of the
    // header (40 ms on Linux) on every request after the first few of a
    // connection. A camera's web server sends both at once.
    server_->set_tcp_nodelay(true);
    Routes();
    int listening = -1;
    server_->set_socket_options([&listening](int sock) {
        httplib::default_socket_options(sock);
        listening = sock;
    });
    const std::string& address = context_.config.address;
    int port = context_.config.httpPort == 0 ? server_->bind_to_any_port(address)
                                             : (server_->bind_to_port(address, context_.config.httpPort)
                                                    ? context_.config.httpPort
                                                    : -1);
    if (port <= 0) {
        if (error) *error = "cannot listen for HTTP on " + address + ":" + std::to_string(context_.config.httpPort);
        server_.reset();
        return false;
    }
    port_ = static_cast<uint16_t>(port);
    // Listening again on a listening socket only sets its queue anew.
    if (listening >= 0) listen(listening, kListenBacklog);
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // stop() only reaches a server that is already listening.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!server_->is_running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

void HttpService::Stop() {
    if (!server_) return;
    while (thread_.joinable() && !server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    server_->stop();
    if (thread_.joinable()) thread_.join();
    server_.reset();
}

HttpService::Handler HttpService::Guard(Handler handler) {
    return [this, handler](const httplib::Request& req, httplib::Response& res) {
        LoggedRequest entry;
        entry.protocol = LoggedRequest::Protocol::Http;
        entry.method = req.method;
        entry.target = req.target.empty() ? req.path : req.target;
        for (const auto& h : req.headers) entry.headers.emplace_back(h.first, h.second);
        entry.body = req.body;
        context_.log.Add(std::move(entry));

        context_.DelayReply();
        if (auth_.Required() &&
            !auth_.Check(req.get_header_value("Authorization"), req.method, req.target.empty() ? req.path : req.target)) {
            res.status = 401;
            for (const std::string& challenge : auth_.Challenges()) res.set_header("WWW-Authenticate", challenge);
            res.set_content("<html><body>401 Unauthorized</body></html>\n", "text/html");
            return;
        }
        handler(req, res);
    };
}

void HttpService::Answer(httplib::Response& res, const httplib::Request& req, int statusCode, const std::string& text) {
    res.set_content(psia::ResponseStatus(req.path, statusCode, text), kXml);
}

void HttpService::Routes() {
    httplib::Server& s = *server_;
    const std::string channel = R"(/PSIA/Streaming/channels/(\d+))";

    s.Get("/PSIA/System/deviceInfo", Guard([this](const httplib::Request&, httplib::Response& res) {
        CameraConfig shown = context_.config;
        shown.httpPort = context_.httpPort;
        res.set_content(psia::DeviceInfo(shown), kXml);
    }));
    Handler reboot = [this](const httplib::Request& req, httplib::Response& res) {
        ++context_.reboots;
        Answer(res, req, psia::kOk, "OK");
        if (onReboot_) onReboot_();
    };
    s.Get("/PSIA/System/reboot", Guard(reboot));
    s.Put("/PSIA/System/reboot", Guard(reboot));

    s.Get("/PSIA/Streaming/channels", Guard([this](const httplib::Request&, httplib::Response& res) {
        res.set_content(psia::StreamingChannelList(context_.channels.All(), context_.rtspPort), kXml);
    }));
    s.Put("/PSIA/Streaming/channels",
          Guard([this](const httplib::Request& req, httplib::Response& res) { PutChannelList(req, res); }));
    s.Get(channel, Guard([this](const httplib::Request& req, httplib::Response& res) { GetChannel(req, res); }));
    s.Put(channel, Guard([this](const httplib::Request& req, httplib::Response& res) { PutChannel(req, res); }));
    s.Get(channel + "/capabilities",
          Guard([this](const httplib::Request& req, httplib::Response& res) { GetCapabilities(req, res); }));

    s.Get("/PSIA/System/IO", Guard([this](const httplib::Request& req, httplib::Response& res) {
        if (IoFailed(req, res)) return;
        if (context_.faults.ioPortListMissing) {
            res.status = 404;
            Answer(res, req, psia::kInvalidOperation, "Not Found");
            return;
        }
        res.set_content(psia::IOPortList(context_.io.InputIds(), context_.io.OutputIds()), kXml);
    }));
    s.Get("/PSIA/System/IO/inputs", Guard([this](const httplib::Request& req, httplib::Response& res) {
        if (!IoFailed(req, res)) res.set_content(psia::IOInputPortList(context_.io.InputIds()), kXml);
    }));
    s.Get("/PSIA/System/IO/outputs", Guard([this](const httplib::Request& req, httplib::Response& res) {
        if (!IoFailed(req, res)) res.set_content(psia::IOOutputPortList(context_.io.OutputIds()), kXml);
    }));
    s.Get(R"(/PSIA/System/IO/inputs/(\d+)/status)",
          Guard([this](const httplib::Request& req, httplib::Response& res) { PortStatus(req, res, true); }));
    s.Get(R"(/PSIA/System/IO/outputs/(\d+)/status)",
          Guard([this](const httplib::Request& req, httplib::Response& res) { PortStatus(req, res, false); }));
    s.Put(R"(/PSIA/System/IO/outputs/(\d+)/trigger)", Guard([this](const httplib::Request& req, httplib::Response& res) {
        uint32_t id = 0;
        bool high = false;
        std::string why;
        if (IoFailed(req, res)) return;
        if (!IdOf(req, id) || !context_.io.HasOutput(id)) {
            res.status = 404;
            Answer(res, req, psia::kInvalidOperation, "No such output");
            return;
        }
        int status = psia::ReadIOPortData(req.body, high, why);
        if (status != psia::kOk) {
            res.status = 400;
            Answer(res, req, status, why);
            return;
        }
        context_.io.TriggerOutput(id, high);
        Answer(res, req, psia::kOk, "OK");
    }));

    Handler unknown = [this](const httplib::Request& req, httplib::Response& res) {
        res.status = 404;
        Answer(res, req, psia::kInvalidOperation, "Not Found");
    };
    s.Get(".*", Guard(unknown));
    s.Put(".*", Guard(unknown));
    s.Post(".*", Guard(unknown));
    s.Delete(".*", Guard(unknown));
}

bool HttpService::IoFailed(const httplib::Request& req, httplib::Response& res) {
    if (!context_.faults.ioFailure) return false;
    res.status = 503;
    Answer(res, req, psia::kDeviceError, "Device Error");
    return true;
}

void HttpService::PortStatus(const httplib::Request& req, httplib::Response& res, bool input) {
    uint32_t id = 0;
    bool active = false;
    if (IoFailed(req, res)) return;
    if (!IdOf(req, id) || !(input ? context_.io.InputActive(id, active) : context_.io.OutputHigh(id, active))) {
        res.status = 404;
        Answer(res, req, psia::kInvalidOperation, input ? "No such input" : "No such output");
        return;
    }
    res.set_content(psia::IOPortStatus(id, input, active), kXml);
}

bool HttpService::ChannelOf(const httplib::Request& req, httplib::Response& res, ChannelConfig& channel) {
    uint32_t id = 0;
    if (IdOf(req, id) && context_.channels.Get(id, channel)) return true;
    res.status = 404;
    Answer(res, req, psia::kInvalidOperation, "No such channel");
    return false;
}

void HttpService::GetChannel(const httplib::Request& req, httplib::Response& res) {
    ChannelConfig c;
    if (!ChannelOf(req, res, c)) return;
    res.set_content(psia::StreamingChannel(c, context_.rtspPort), kXml);
}

void HttpService::GetCapabilities(const httplib::Request& req, httplib::Response& res) {
    ChannelConfig c;
    if (!ChannelOf(req, res, c)) return;
    res.set_content(psia::Capabilities(c, context_.config, context_.clips.Resolutions(), context_.rtspPort), kXml);
}

void HttpService::PutChannel(const httplib::Request& req, httplib::Response& res) {
    ChannelConfig c;
    if (!ChannelOf(req, res, c)) return;
    ChannelPutFault fault = context_.faults.channelPut;
    if (fault == ChannelPutFault::NotFound || fault == ChannelPutFault::MethodNotAllowed) {
        res.status = fault == ChannelPutFault::NotFound ? 404 : 405;
        Answer(res, req, psia::kInvalidOperation, res.status == 404 ? "Not Found" : "Method Not Allowed");
        return;
    }
    std::string why;
    int status = psia::ReadStreamingChannel(req.body, c, why);
    if (status != psia::kOk) {
        res.status = 400;
        Answer(res, req, status, why);
        return;
    }
    if (fault == ChannelPutFault::InvalidOperation) {
        Answer(res, req, psia::kInvalidOperation, "Invalid Operation");
    } else if (fault == ChannelPutFault::RebootRequired) {
        context_.channels.SetPending(c);
        Answer(res, req, psia::kRebootRequired, "Reboot Required");
    } else {
        context_.channels.Set(c);
        Answer(res, req, psia::kOk, "OK");
    }
}

void HttpService::PutChannelList(const httplib::Request& req, httplib::Response& res) {
    std::vector<ChannelConfig> channels = context_.channels.All();
    std::vector<uint32_t> changed;
    std::string why;
    int status = psia::ReadStreamingChannelList(req.body, channels, changed, why);
    if (status != psia::kOk) {
        res.status = 400;
        Answer(res, req, status, why);
        return;
    }
    ChannelPutFault fault = context_.faults.channelPut;
    if (fault == ChannelPutFault::InvalidOperation) {
        Answer(res, req, psia::kInvalidOperation, "Invalid Operation");
        return;
    }
    for (const ChannelConfig& c : channels) {
        if (std::find(changed.begin(), changed.end(), c.id) == changed.end()) continue;
        if (fault == ChannelPutFault::RebootRequired) {
            context_.channels.SetPending(c);
        } else {
            context_.channels.Set(c);
        }
    }
    if (fault == ChannelPutFault::RebootRequired) {
        Answer(res, req, psia::kRebootRequired, "Reboot Required");
    } else {
        Answer(res, req, psia::kOk, "OK");
    }
}

}  // namespace camsim
