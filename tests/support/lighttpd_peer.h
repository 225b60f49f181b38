// A PSIA camera this project did not write: lighttpd behind HTTP Digest
// authentication (qop="auth", an htdigest user file), or Basic from the same
// user file, serving the PSIA
// documents from files and taking every PUT through a CGI script that
// records it and answers a ResponseStatus with statusCode 1.
//
// The documents describe streaming channels 1, 2, ... (RTSP port 554, model
// "Lighttpd-PSIA"), each offering H.264 and MJPEG at 640x480 and 1280x720, 5 to
// 25 fps, CBR and VBR, bit rates 32 to 6144 and qualities 25, 50, 75, 100;
// input ports 0 .. inputs-1, all "inactive" at first, and output ports
// 0 .. outputs-1.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace fakes {

class LighttpdPeer {
public:
    static constexpr const char* kUserName = "operator";
    static constexpr const char* kPassword = "lighttpd-secret";

    struct Put {
        std::string target;  // as the client sent it
        std::string body;
    };

    // method: "digest" or "basic".
    LighttpdPeer(uint32_t inputs, uint32_t outputs, std::string method = "digest", uint32_t channels = 1);
    // Stops the server and removes its files.
    virtual ~LighttpdPeer();
    LighttpdPeer(const LighttpdPeer&) = delete;
    LighttpdPeer& operator=(const LighttpdPeer&) = delete;

    // Writes configuration and documents to a new temporary folder and runs
    // lighttpd on a free 127.0.0.1 port until it listens; error tells why not.
    bool Start(std::string& error);
    uint16_t Port() const { return port_; }

    // The input's status document from now on.
    bool SetInputActive(uint32_t input, bool active);
    // Every PUT the script has recorded, in order.
    std::vector<Put> Puts() const;

protected:
    static constexpr const char* kRealm = "PSIA lighttpd";

    bool WriteFile(const std::string& relative, const std::string& text) const;
    const std::string& Dir() const { return dir_; }

private:
    // The server's own configuration and the command that runs it in the
    // foreground.
    virtual bool WriteConfig();
    virtual std::vector<std::string> Command() const;
    bool WriteSite();
    bool Launch(std::string& error);
    void Kill();

    uint32_t inputs_;
    uint32_t outputs_;
    uint32_t channels_;
    std::string method_;
    std::string dir_;
    uint16_t port_ = 0;
    pid_t pid_ = -1;
};

}  // namespace fakes
