// One HTTP request as the caller describes it to CHttpSender::Send.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace Web {

// authScheme values: 0 Basic, 1 NTLM, 2 Passport, 3 Digest, 4 Negotiate;
// kNoCredentials sends none.
constexpr uint32_t kNoCredentials = 5;

// Option bits.
constexpr uint32_t kOptionQueryNotEscaped = 0x1;
constexpr uint32_t kOptionAnyCertificate = 0x2;  // with secure = 1 only
constexpr uint32_t kOptionNoRedirects = 0x4;
constexpr uint32_t kOptionDeferResponse = 0x8;

struct HttpRequest {
    HttpRequest(std::string verbText, std::string pathText) : verb(std::move(verbText)), path(std::move(pathText)) {}

    std::string verb;
    std::string path;  // path and query
    uint32_t secure = 0;  // 1: HTTPS
    uint32_t authScheme = 0;
    std::vector<uint8_t> body;  // sent with the headers
    uint32_t announcedLength = 0;  // total body length when more follows through WriteBody
    std::vector<std::string> headers;  // "Name: value" lines, in order
    uint32_t options = kOptionQueryNotEscaped | kOptionNoRedirects;
};

}  // namespace Web
