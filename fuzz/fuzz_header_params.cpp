// Arbitrary bytes as the header lines the HTTP and RTSP clients read:
// WWW-Authenticate challenges, Session and RTP-Info parameters, SDP hex
// configuration.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "psia/http_challenge.h"
#include "util/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> lines = telvaro::SplitText(text, '\n');
    for (const Web::HttpChallenge& challenge : Web::ParseChallenges(lines)) challenge.Answerable();
    for (const std::string& line : lines) {
        std::string trimmed = telvaro::TrimBlanks(telvaro::EraseChars("\r", line));
        telvaro::FindHeaderParam("nonce", "=", trimmed, ", ");
        telvaro::FindHeaderParam("realm", "=", trimmed, ",");
        telvaro::FindHeaderParam("timeout", "=", trimmed, ";");
        if (trimmed.size() >= 4) telvaro::FindHeaderParam(trimmed.substr(0, 3), trimmed.substr(3, 1), trimmed, " ;,");
        telvaro::HexToBytes(trimmed);
        telvaro::ToLower(trimmed);
    }
    return 0;
}
