#include "rtsp/rtsp_response_parser.h"

#include "psia/text.h"

namespace telvaro {

namespace {

constexpr size_t kEndMarker = std::string::npos;
// Longest token a "%s" item reads from a status, Content-Type or control
// line.
constexpr size_t kMaxToken = 254;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// The line at pos; pos moves to the next line. A line ends at CR LF, or at
// a CR or LF of its own (RFC 2326 section 4 asks receivers to take either).
// Without a terminator the rest of the text is the line, pos becomes the end
// marker and false is returned.
bool ReadLine(const std::string& text, size_t& pos, std::string& line) {
    if (pos >= text.size()) {
        line.clear();
        pos = kEndMarker;
        return false;
    }
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) {
        line = text.substr(pos);
        pos = kEndMarker;
        return false;
    }
    line = text.substr(pos, end - pos);
    pos = end + 1;
    if (text[end] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
    return true;
}

void SkipSpaces(const std::string& text, size_t& i) {
    while (i < text.size() && IsSpace(text[i])) ++i;
}

// A "%s" item: blanks skipped, then at most maxLength non-blank characters.
bool ScanToken(const std::string& text, size_t& i, size_t maxLength, std::string& token) {
    SkipSpaces(text, i);
    size_t start = i;
    while (i < text.size() && !IsSpace(text[i]) && i - start < maxLength) ++i;
    token = text.substr(start, i - start);
    return !token.empty();
}

// A "%u" item: blanks skipped, an optional "+", decimal digits. Values beyond
// 32 bits are refused.
bool ScanUnsigned(const std::string& text, size_t& i, uint32_t& value) {
    SkipSpaces(text, i);
    if (i < text.size() && text[i] == '+') ++i;
    size_t start = i;
    uint64_t v = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        v = v * 10 + static_cast<uint64_t>(text[i] - '0');
        if (v > 0xFFFFFFFFull) return false;
        ++i;
    }
    if (i == start) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

// "<prefix> %u" on a lower-cased line: the prefix at the start.
bool ScanPrefixedUnsigned(const std::string& lower, const char* prefix, uint32_t& value) {
    const std::string p(prefix);
    if (lower.compare(0, p.size(), p) != 0) return false;
    size_t i = p.size();
    return ScanUnsigned(lower, i, value);
}

// The decimal number a value begins with; 0 when it begins otherwise.
uint32_t LeadingNumber(const std::string& text) {
    size_t i = 0;
    SkipSpaces(text, i);
    uint64_t v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        v = v * 10 + static_cast<uint64_t>(text[i] - '0');
        if (v > 0xFFFFFFFFull) return 0xFFFFFFFFu;
    }
    return static_cast<uint32_t>(v);
}

// True when the first occurrence of name in the lower-cased line starts it
// or follows a blank.
bool IsOfClass(const std::string& lower, const char* name) {
    size_t at = lower.find(name);
    if (at == std::string::npos) return false;
    if (at == 0) return true;
    char before = lower[at - 1];
    return before == ' ' || before == '\t' || before == '\r' || before == '\n';
}

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// RFC 4648 alphabet; everything else (padding included) is skipped, and a
// final group of n characters gives its top 6n/8 bytes.
std::vector<uint8_t> DecodeBase64(const std::string& text) {
    std::vector<uint8_t> out;
    out.reserve(text.size() * 3 / 4 + 3);
    uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        int v = Base64Value(c);
        if (v < 0) continue;
        bits = (bits << 6) | static_cast<uint32_t>(v);
        if (++count == 4) {
            out.push_back(static_cast<uint8_t>(bits >> 16));
            out.push_back(static_cast<uint8_t>(bits >> 8));
            out.push_back(static_cast<uint8_t>(bits));
            bits = 0;
            count = 0;
        }
    }
    if (count > 0) {
        bits <<= 6 * (4 - count);
        int bytes = 6 * count / 8;
        for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(bits >> (16 - 8 * i)));
    }
    return out;
}

// Stores the decoded set unless it is longer than the limit.
void StoreParameterSet(const std::string& text, std::vector<uint8_t>& target) {
    std::vector<uint8_t> decoded = DecodeBase64(text);
    if (decoded.size() <= CRTSPResponseParser::kMaxParameterSetSize) target = std::move(decoded);
}

// The line with the first occurrence of the lower-case name written as
// canonical, so that lookups written for the usual spelling find it in any
// letter case.
std::string WithCanonicalName(const std::string& line, const std::string& lower, const char* name,
                              const char* canonical) {
    size_t at = lower.find(name);
    if (at == std::string::npos) return line;
    std::string out(line);
    const std::string c(canonical);
    out.replace(at, c.size(), c);
    return out;
}

const RTSPMediaDescription kNoMedia;

}  // namespace

CRTSPResponseParser::CRTSPResponseParser() = default;

CRTSPResponseParser::~CRTSPResponseParser() = default;

CRTSPResponseParser::ReplyExtent CRTSPResponseParser::FindReplyExtent(const std::string& text, size_t maxSize,
                                                                     size_t& length) {
    size_t pos = 0;
    uint32_t bodyLength = 0;
    std::string line;
    for (;;) {
        // A CR at the end may still be followed by its LF.
        if (!ReadLine(text, pos, line) || (pos == text.size() && text.back() == '\r')) {
            return text.size() > maxSize ? ReplyExtent::TooLarge : ReplyExtent::Incomplete;
        }
        if (line.empty()) break;
        uint32_t value = 0;
        if (ScanPrefixedUnsigned(ToLower(line), "content-length:", value)) bodyLength = value;
    }
    if (pos > maxSize || bodyLength > maxSize - pos) return ReplyExtent::TooLarge;
    if (text.size() - pos < bodyLength) return ReplyExtent::Incomplete;
    length = pos + bodyLength;
    return ReplyExtent::Complete;
}

const RTSPMediaDescription& CRTSPResponseParser::GetMedia(int32_t kind) const {
    if (kind < kRtspMediaVideo || kind > kRtspMediaMetadata) return kNoMedia;
    return media_[kind - 1];
}

bool CRTSPResponseParser::Parse(const std::string& reply, int32_t method) {
    size_t pos = 0;
    std::string line;
    if (!ReadLine(reply, pos, line) || line.empty()) return false;
    size_t i = 0;
    std::string version;
    uint32_t status = 0;
    if (!ScanToken(line, i, kMaxToken, version) || !ScanUnsigned(line, i, status)) return false;
    protocolVersion_ = version;
    statusCode_ = status;
    if (status != 200 && status != 401) return false;

    for (;;) {
        // An unterminated last line is not a header; it ends the block.
        if (!ReadLine(reply, pos, line)) break;
        if (line.empty()) break;
        if (!HandleHeader(line)) return false;
    }
    if (contentLength_ != 0 && pos == kEndMarker) return false;
    std::string body;
    if (contentLength_ != 0) body = reply.substr(pos, contentLength_);
    if (method == kRtspDescribe) return ParseSessionDescription(body);
    return true;
}

bool CRTSPResponseParser::HandleHeader(const std::string& line) {
    const std::string lower = ToLower(line);
    if (IsOfClass(lower, "cseq")) return ReadCSeq(lower);
    if (IsOfClass(lower, "date")) return true;
    if (IsOfClass(lower, "content-base")) return ReadContentBase(line, lower);
    if (IsOfClass(lower, "content-type")) return ReadContentType(lower);
    if (IsOfClass(lower, "content-length")) return ReadContentLength(lower);
    if (IsOfClass(lower, "transport")) return true;
    if (IsOfClass(lower, "session")) return ReadSession(line, lower);
    if (IsOfClass(lower, "range")) return true;
    if (IsOfClass(lower, "rtp-info")) return true;
    if (IsOfClass(lower, "server")) return true;
    if (IsOfClass(lower, "accept-ranges")) return true;
    if (IsOfClass(lower, "rtcp-interval")) return true;
    if (IsOfClass(lower, "www-authenticate")) return ReadChallenge(line, lower);
    return true;
}

bool CRTSPResponseParser::ReadCSeq(const std::string& lower) { return ScanPrefixedUnsigned(lower, "cseq:", cseq_); }

bool CRTSPResponseParser::ReadContentBase(const std::string& line, const std::string& lower) {
    size_t name = lower.find("content-base:");
    if (name == std::string::npos) {
        contentBase_.clear();
        return false;
    }
    // The name is matched in any case; the URL is kept as received, since
    // servers may tell paths apart by case.
    size_t url = lower.find("rtsp://", name);
    if (url != std::string::npos) contentBase_ = TrimBlanks(line.substr(url));
    return true;
}

bool CRTSPResponseParser::ReadContentType(const std::string& lower) {
    static const std::string kPrefix = "content-type:";
    if (lower.compare(0, kPrefix.size(), kPrefix) != 0) return false;
    size_t i = kPrefix.size();
    std::string value;
    if (!ScanToken(lower, i, kMaxToken, value)) return false;
    contentType_ = value;
    return true;
}

bool CRTSPResponseParser::ReadContentLength(const std::string& lower) {
    return ScanPrefixedUnsigned(lower, "content-length:", contentLength_);
}

bool CRTSPResponseParser::ReadSession(const std::string& line, const std::string& lower) {
    const std::string canonical = WithCanonicalName(line, lower, "session:", "Session:");
    session_.clear();
    session_ = FindHeaderParam("Session:", " ", canonical, ";\r\n");
    if (canonical.find(';') != std::string::npos) {
        std::string timeout = FindHeaderParam("timeout", "=", canonical, ";\r\n");
        if (timeout.empty()) {
            session_.clear();
        } else {
            sessionTimeout_ = LeadingNumber(timeout);
            if (sessionTimeout_ == 0) sessionTimeout_ = 30;
        }
    }
    return !session_.empty();
}

bool CRTSPResponseParser::ReadChallenge(const std::string& line, const std::string& lower) {
    static const std::string kDigest = "www-authenticate: digest";
    static const std::string kBasic = "www-authenticate: basic";
    size_t at;
    std::string parameters;
    if ((at = lower.find(kDigest)) != std::string::npos) {
        challengeScheme_ = kRtspAuthDigest;
        parameters = line.substr(at + kDigest.size());
    } else if ((at = lower.find(kBasic)) != std::string::npos) {
        challengeScheme_ = kRtspAuthBasic;
        parameters = line.substr(at + kBasic.size());
    } else {
        challengeScheme_ = kRtspAuthNone;
    }
    realm_ = EraseChars("\"", TrimBlanks(FindHeaderParam("realm", "=", parameters, ",\r\n")));
    nonce_ = EraseChars("\"", TrimBlanks(FindHeaderParam("nonce", "=", parameters, ",\r\n")));
    if (challengeScheme_ == kRtspAuthDigest) return !realm_.empty() && !nonce_.empty();
    return true;
}

bool CRTSPResponseParser::ParseSessionDescription(const std::string& body) {
    // The kind of the media section the lines belong to, and the kind whose
    // first control line is still to come.
    int32_t section = kRtspMediaNone;
    int32_t controlKind = kRtspMediaNone;
    size_t pos = 0;
    std::string line;
    while (pos != kEndMarker && pos < body.size()) {
        // The last line counts even without its line end.
        ReadLine(body, pos, line);
        const std::string lower = ToLower(line);
        bool ok = true;
        if (IsOfClass(lower, "a=control")) {
            ok = ReadControlLine(line, controlKind);
        } else if (IsOfClass(lower, "a=fmtp")) {
            // Another media's parameters (an audio "config", say) must not
            // replace the decoder configuration of the one set up.
            if (section == selectedMedia_) ok = ReadFormatLine(line);
        } else if (IsOfClass(lower, "m=")) {
            ok = ReadMediaLine(line, section, controlKind);
        }
        if (!ok) return false;
    }
    return true;
}

bool CRTSPResponseParser::ReadMediaLine(const std::string& line, int32_t& section, int32_t& controlKind) {
    std::string value = FindHeaderParam("m", "=", line, "\r\n");
    if (value.empty()) return false;
    std::vector<std::string> pieces = SplitText(value, ' ');
    if (pieces.empty()) return false;
    const std::string type = ToLower(pieces[0]);
    if (type.empty()) return false;
    int32_t kind = kRtspMediaNone;
    if (type == "video") {
        kind = kRtspMediaVideo;
    } else if (type == "audio") {
        kind = kRtspMediaAudio;
    } else if (type == "metadata") {
        kind = kRtspMediaMetadata;
    }
    section = kind;
    controlKind = kind;
    if (kind != kRtspMediaNone && pieces.size() >= 3) media_[kind - 1].profile = pieces[2];
    return true;
}

bool CRTSPResponseParser::ReadControlLine(const std::string& line, int32_t& controlKind) {
    static const std::string kPrefix = "a=control:";
    std::string value;
    bool read = false;
    if (line.compare(0, kPrefix.size(), kPrefix) == 0) {
        size_t i = kPrefix.size();
        read = ScanToken(line, i, kMaxToken, value);
    }
    if (controlKind != kRtspMediaNone) media_[controlKind - 1].control = value;
    controlKind = kRtspMediaNone;
    return read;
}

bool CRTSPResponseParser::ReadFormatLine(const std::string& line) {
    size_t blank = line.find_first_of(" \t");
    const std::string parameters = blank == std::string::npos ? std::string() : line.substr(blank + 1);
    const std::string sets = FindHeaderParam("sprop-parameter-sets", "=", parameters, ";\r\n");
    if (sets.empty()) {
        const std::string config = FindHeaderParam("config", "=", parameters, ";\r\n");
        // Many H.264 cameras send their parameter sets only in the stream.
        if (config.empty()) return true;
        mediaConfig_.config = HexToBytes(config);
        return !mediaConfig_.config.empty();
    }
    std::vector<std::string> pieces = SplitText(sets, ',');
    if (pieces.size() < 2) return true;
    if (pieces[0].empty() || pieces[1].empty()) return false;
    StoreParameterSet(pieces[0], mediaConfig_.sps);
    StoreParameterSet(pieces[1], mediaConfig_.pps);
    return !mediaConfig_.sps.empty() && !mediaConfig_.pps.empty();
}

}  // namespace telvaro
