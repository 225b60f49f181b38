#include "psia/http_challenge.h"

#include <cstring>

#include "util/auth_params.h"
#include "util/text.h"

namespace Web {

namespace {

bool IsToken68Char(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           (c != '\0' && std::strchr("-._~+/", c) != nullptr);
}

// Reads a list of challenges: auth-scheme [ token68 | auth-param *( "," auth-param ) ],
// the challenges themselves separated by commas.
class ChallengeReader {
public:
    ChallengeReader(const std::string& text, std::vector<HttpChallenge>& out) : text_(text), out_(out) {}

    void Read() {
        for (;;) {
            // A parameter before any scheme belongs to nothing; the first of
            // two of one name counts.
            for (telvaro::AuthParam& param : telvaro::ReadAuthParams(text_, i_)) {
                if (open_) out_.back().params.emplace(std::move(param.name), std::move(param.value));
            }
            if (i_ >= text_.size()) return;
            NewChallenge(telvaro::ReadToken(text_, i_));
            SkipBlanks();
            SkipToken68();
        }
    }

private:
    void SkipBlanks() {
        while (i_ < text_.size() && (text_[i_] == ' ' || text_[i_] == '\t')) ++i_;
    }

    void NewChallenge(const std::string& name) {
        HttpChallenge challenge;
        std::string lower = telvaro::ToLower(name);
        if (lower == "basic") challenge.scheme = kHttpAuthBasic;
        if (lower == "digest") challenge.scheme = kHttpAuthDigest;
        if (lower == "ntlm") challenge.scheme = kHttpAuthNtlm;
        if (lower == "negotiate") challenge.scheme = kHttpAuthNegotiate;
        if (lower == "passport1.4") challenge.scheme = kHttpAuthPassport;
        out_.push_back(challenge);
        open_ = true;
    }

    // A token68 right after the scheme (RFC 7235 section 2.1) is skipped:
    // neither Basic nor Digest has one. Anything else stays to be read.
    void SkipToken68() {
        size_t start = i_;
        while (i_ < text_.size() && IsToken68Char(text_[i_])) ++i_;
        size_t letters = i_;
        while (i_ < text_.size() && text_[i_] == '=') ++i_;
        SkipBlanks();
        bool ends = i_ >= text_.size() || text_[i_] == ',';
        if (letters == start || !ends) i_ = start;
    }

    const std::string& text_;
    std::vector<HttpChallenge>& out_;
    size_t i_ = 0;
    bool open_ = false;
};

}  // namespace

std::string HttpChallenge::Param(const std::string& name) const {
    auto it = params.find(name);
    return it == params.end() ? std::string() : it->second;
}

bool HttpChallenge::QopAuth() const {
    for (const std::string& option : telvaro::SplitText(Param("qop"), ',')) {
        if (telvaro::ToLower(telvaro::TrimBlanks(option)) == "auth") return true;
    }
    return false;
}

bool HttpChallenge::Answerable() const {
    if (scheme == kHttpAuthBasic) return true;
    if (scheme != kHttpAuthDigest || Param("nonce").empty()) return false;
    std::string algorithm = telvaro::ToLower(Param("algorithm"));
    if (!algorithm.empty() && algorithm != "md5") return false;
    return params.count("qop") == 0 || QopAuth();
}

std::vector<HttpChallenge> ParseChallenges(const std::vector<std::string>& values) {
    std::vector<HttpChallenge> out;
    for (const std::string& value : values) ChallengeReader(value, out).Read();
    return out;
}

const HttpChallenge* StrongestChallenge(const std::vector<HttpChallenge>& challenges) {
    const HttpChallenge* basic = nullptr;
    for (const HttpChallenge& challenge : challenges) {
        if (!challenge.Answerable()) continue;
        if (challenge.scheme == kHttpAuthDigest) return &challenge;
        if (!basic) basic = &challenge;
    }
    return basic;
}

}  // namespace Web
