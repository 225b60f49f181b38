// What an HTTP/1.1 request may carry, checked before anything is sent, and
// the small text helpers both HTTP transports read answers with.
#pragma once

#include <cstdint>
#include <string>

namespace telvaro {
namespace platform {

bool EqualsNoCase(const std::string& a, const char* b);
// Without blanks and tabs at both ends.
std::string TrimBlanks(const std::string& text);
// An RFC 9110 token: a method or a header name.
bool IsToken(const std::string& text);
// A host name or address (IPv6 without brackets), nothing else.
bool IsHostName(const std::string& host);
// A request target with no byte that would end or split the request line.
bool IsTarget(const std::string& target);
// "Name: value" with a token name and no CR, LF or NUL.
bool IsHeaderLine(const std::string& line);
// Decimal digits within 64 bits (19 digits always are).
bool ParseLength(const std::string& digits, uint64_t& length);

}  // namespace platform
}  // namespace telvaro
