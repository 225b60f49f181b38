// What both HTTP transports share: the check of a request before anything
// is sent, and the reading of an answer's header lines and body into the
// answer within its bounds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/http_transport.h"

namespace telvaro {
namespace platform {

// A token method, a host name or address (IPv6 without brackets), a port,
// a target and "Name: value" lines with no byte that would end or split a
// line, and a body where one is announced.
bool IsSendable(const HttpExchange& request);

// The announced length of an answer's body, as one header line told it.
struct AnnouncedLength {
    bool known = false;
    uint64_t length = 0;
};

// One "Name: value" line of an answer's head (without its CRLF) into
// answer.headers, name and value trimmed; a line without a colon is passed
// over. false when it announces a Content-Length beyond maxBodySize (a
// number beyond 64 bits is beyond it as well).
bool AddAnswerHeader(const std::string& line, size_t maxBodySize, HttpAnswer& answer, AnnouncedLength& announced);

// Appends n received bytes to body; false, with nothing appended, when the
// body would grow beyond maxBodySize. Room is kept for the bound and one
// more byte (a caller's terminator) at most.
bool AppendBody(std::vector<uint8_t>& body, const uint8_t* data, size_t n, size_t maxBodySize);

}  // namespace platform
}  // namespace telvaro
