// Independent clients for the camera simulator tests: libcurl for HTTP (with
// its own Basic and Digest) and a plain-socket RTSP client that writes its
// requests by hand, byte for byte as the driver does.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>
#include <vector>

namespace camsim_test {

struct HttpResult {
    long status = 0;
    std::string body;
    std::vector<std::string> headers;  // "Name: value" lines as received
};

// authMask: CURLAUTH_* bits; 0 sends no credentials.
HttpResult Http(const std::string& method, const std::string& url, const std::string& user,
                const std::string& password, long authMask, const std::string& body = std::string());

// Text between <name> and </name>, empty when absent.
std::string XmlValue(const std::string& xml, const std::string& name);

struct RtspReply {
    int status = 0;
    std::string head;
    std::string body;
    std::string Header(const std::string& name) const;  // first one, any case
    std::vector<std::string> Headers(const std::string& name) const;
};

class RtspClient {
public:
    RtspClient() = default;
    ~RtspClient();
    RtspClient(const RtspClient&) = delete;
    RtspClient& operator=(const RtspClient&) = delete;

    bool Connect(uint16_t port);
    void Close();
    int Fd() const { return fd_; }
    bool SendRaw(const std::string& text);
    // One request; extra header lines each end in CR LF.
    RtspReply Request(const std::string& method, const std::string& url, const std::string& extra = std::string());
    // The next reply on the connection, skipping interleaved frames.
    RtspReply ReadReply(int timeoutMs = 3000);
    // The next interleaved frame of any channel; false on time-out or close.
    bool ReadInterleaved(uint8_t& channel, std::vector<uint8_t>& packet, int timeoutMs = 2000);
    // True when the server closed the connection within timeoutMs.
    bool ClosedByServer(int timeoutMs);
    uint32_t cseq = 0;

private:
    bool Fill(int timeoutMs);
    int fd_ = -1;
    std::string buffer_;
};

// RFC 2617 Digest answer without qop, as the driver computes it.
std::string DigestAuthorization(const std::string& challenge, const std::string& user, const std::string& password,
                                const std::string& method, const std::string& uri);

// A UDP socket on 127.0.0.1 with a system-chosen even port and the next one.
class UdpPair {
public:
    UdpPair();
    ~UdpPair();
    UdpPair(const UdpPair&) = delete;
    UdpPair& operator=(const UdpPair&) = delete;
    bool Ok() const { return rtp_ >= 0 && rtcp_ >= 0; }
    uint16_t RtpPort() const { return port_; }
    // Datagrams that arrive within timeoutMs (RTP socket, or RTCP socket).
    std::vector<std::vector<uint8_t>> Receive(int timeoutMs, bool rtcp = false, size_t atMost = 100000,
                                              sockaddr_in* from = nullptr);

private:
    int rtp_ = -1;
    int rtcp_ = -1;
    uint16_t port_ = 0;
};

struct RtpHeader {
    bool marker = false;
    uint8_t payloadType = 0;
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    uint32_t ssrc = 0;
};
bool ParseRtp(const std::vector<uint8_t>& packet, RtpHeader& header);

// ffprobe's codec_name,width,height of the first stream, or "" on failure.
std::string Ffprobe(const std::string& url, const std::string& transport);

}  // namespace camsim_test
