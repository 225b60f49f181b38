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

struct HttpRequest {
    HttpRequest(std::string verbText, std::string pathText) : verb(std::move(verbText)), path(std::move(pathText)) {}

    std::string verb;
    std::string path;  // path and query
    // Whether credentials may answer the camera's challenge: kNoCredentials
    // never; Basic (0) and Digest (3) answer whichever of the two the camera
    // names first; the other schemes are not spoken and fail the request.
    uint32_t authScheme = 0;
    std::vector<uint8_t> body;  // every verb but GET sends one, also when empty
    uint32_t bodyDelayMs = 0;   // the body follows the headers after this pause
    std::vector<std::string> headers;  // "Name: value" lines, in order
};

}  // namespace Web
