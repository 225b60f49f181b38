#include "platform/http_transport.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/clock.h"

namespace telvaro {
namespace platform {

namespace {

// Response bytes held for ReadData before the connection is left to wait.
constexpr size_t kMaxBufferedBody = 64 * 1024;
// What closing a request may still read to keep its connection reusable.
constexpr size_t kMaxDrainedBody = 64 * 1024;
constexpr long kMaxRedirects = 10;

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(const std::string& a, const char* b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

std::string Trim(const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

void InitialiseLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool IsTokenChar(char c) {
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
    return c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool IsHostChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == '-' ||
           c == '_' || c == ':';
}

// Request target with the bytes escaped that cannot stand in a request line
// (blanks, controls, "#" which would end the URL) and, where escaping
// applies, non-ASCII bytes.
std::string EscapeTarget(const std::string& objectName, bool escapeQuery) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    if (objectName.empty() || objectName[0] != '/') out.push_back('/');
    bool inQuery = false;
    for (char ch : objectName) {
        auto c = static_cast<unsigned char>(ch);
        if (c == '?') inQuery = true;
        bool mustEscape = c <= 0x20 || c == 0x7F || c == '#';
        bool mayEscape = c >= 0x80 && (!inQuery || escapeQuery);
        if (mustEscape || mayEscape) {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0x0F]);
        } else {
            out.push_back(ch);
        }
    }
    return out;
}

}  // namespace

bool ParseHttpStatusLine(const std::string& line, uint32_t& status) {
    status = 0;
    if (line.compare(0, 5, "HTTP/") != 0) return false;
    size_t space = line.find(' ');
    if (space == std::string::npos || space + 4 > line.size()) return false;
    uint32_t value = 0;
    for (size_t i = space + 1; i < space + 4; ++i) {
        if (line[i] < '0' || line[i] > '9') return false;
        value = value * 10 + static_cast<uint32_t>(line[i] - '0');
    }
    if (space + 4 < line.size() && line[space + 4] != ' ') return false;
    status = value;
    return true;
}

bool FirstOfferedAuthScheme(const std::string* values, size_t count, uint32_t& scheme) {
    static const std::pair<const char*, uint32_t> kSchemes[] = {
        {"Basic", kHttpAuthBasic},   {"NTLM", kHttpAuthNtlm},           {"Passport1.4", kHttpAuthPassport},
        {"Digest", kHttpAuthDigest}, {"Negotiate", kHttpAuthNegotiate},
    };
    scheme = 0;
    if (!values) return false;
    for (size_t i = 0; i < count; ++i) {
        std::string value = Trim(values[i]);
        std::string name = value.substr(0, value.find_first_of(" \t,"));
        for (const auto& known : kSchemes) {
            if (EqualsNoCase(name, known.first)) {
                scheme = known.second;
                return true;
            }
        }
    }
    return false;
}

bool ParseContentLengthValue(const std::string& value, uint32_t& length) {
    length = 0;
    std::string digits = Trim(value);
    if (digits.empty() || digits.size() > 10) return false;
    uint64_t v = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > 0xFFFFFFFFu) return false;
    length = static_cast<uint32_t>(v);
    return true;
}

struct HttpTransport::Impl {
    ~Impl() {
        CloseRequest();
        CloseSession();
    }

    // Session.
    CURLM* multi = nullptr;
    CURL* easy = nullptr;
    uint32_t timeoutMs = 0;
    std::atomic<const std::atomic<bool>*> abortFlag{nullptr};

    // Connection.
    bool connected = false;
    std::string authority;  // "host:port"

    // Request description.
    bool requestOpen = false;
    std::string verb;
    std::string target;
    bool secure = false;
    bool credentials = false;
    long authMask = CURLAUTH_BASIC;
    std::string userName;
    std::string password;
    bool ignoreCertificates = false;
    bool followRedirects = true;
    std::vector<std::pair<std::string, std::string>> headers;  // name, full line
    curl_slist* headerList = nullptr;

    // Transfer.
    bool active = false;
    bool done = false;
    CURLcode result = CURLE_OK;
    bool stalled = false;  // a wait ran out of time: the server is not waited for again
    bool aborted = false;  // a wait was given up for the abort flag (stalled too)
    uint64_t lastActivity = 0;
    bool requestSent = false;
    std::vector<uint8_t> upload;
    uint64_t uploadTotal = 0;
    size_t uploadRead = 0;
    bool wantsMoreUpload = false;  // the library asked for body bytes not written yet
    bool sendPaused = false;

    // Response to the latest request on the wire.
    bool statusValid = false;
    uint32_t status = 0;
    bool headersComplete = false;
    bool bodyStarted = false;
    bool hasContentLength = false;
    std::string contentLength;
    std::vector<std::string> authenticate;
    std::vector<uint8_t> body;
    size_t bodyOffset = 0;
    bool receivePaused = false;
    bool draining = false;
    size_t drained = 0;

    void Touch() { lastActivity = MonotonicMilliseconds(); }

    bool AbortRequested() const {
        const std::atomic<bool>* flag = abortFlag.load();
        return flag && flag->load();
    }

    void ResetResponse() {
        statusValid = false;
        status = 0;
        headersComplete = false;
        bodyStarted = false;
        hasContentLength = false;
        contentLength.clear();
        authenticate.clear();
        body.clear();
        bodyOffset = 0;
    }

    // The final response is the one the library does not answer with a
    // request of its own (another authentication round, a redirect): it hands
    // its body on, or it ends the transfer.
    bool ResponseReady() const {
        if (!headersComplete) return false;
        if (bodyStarted || done) return true;
        bool redirect = status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
        bool mayRepeat = status == 401 || status == 407 || (followRedirects && redirect);
        return !mayRepeat;
    }

    static size_t OnHeader(char* data, size_t size, size_t count, void* user) {
        auto* self = static_cast<Impl*>(user);
        size_t n = size * count;
        self->Touch();
        std::string line(data, n);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        uint32_t code = 0;
        if (ParseHttpStatusLine(line, code)) {
            self->ResetResponse();
            self->statusValid = true;
            self->status = code;
            return n;
        }
        if (self->headersComplete) return n;  // trailers of a chunked body
        if (line.empty()) {
            // An interim 1xx answer is followed by the real one.
            if (!self->statusValid || self->status >= 200) self->headersComplete = true;
            return n;
        }
        size_t colon = line.find(':');
        if (colon == std::string::npos) return n;
        std::string name = Trim(line.substr(0, colon));
        std::string value = line.substr(colon + 1);
        if (EqualsNoCase(name, "WWW-Authenticate")) {
            self->authenticate.push_back(Trim(value));
        } else if (EqualsNoCase(name, "Content-Length")) {
            self->contentLength = value;
            self->hasContentLength = true;
        }
        return n;
    }

    static size_t OnBody(char* data, size_t size, size_t count, void* user) {
        auto* self = static_cast<Impl*>(user);
        size_t n = size * count;
        self->Touch();
        if (self->draining) {
            self->drained += n;
            return self->drained > kMaxDrainedBody ? 0 : n;
        }
        if (self->body.size() - self->bodyOffset >= kMaxBufferedBody) {
            self->receivePaused = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        if (self->bodyOffset > 0) {
            self->body.erase(self->body.begin(), self->body.begin() + static_cast<std::ptrdiff_t>(self->bodyOffset));
            self->bodyOffset = 0;
        }
        self->body.insert(self->body.end(), data, data + n);
        self->bodyStarted = true;
        return n;
    }

    size_t UploadLimit() const { return static_cast<size_t>(std::min<uint64_t>(upload.size(), uploadTotal)); }

    static size_t OnUpload(char* buffer, size_t size, size_t count, void* user) {
        auto* self = static_cast<Impl*>(user);
        size_t room = size * count;
        self->Touch();
        size_t limit = self->UploadLimit();
        if (self->uploadRead < limit) {
            size_t n = std::min(room, limit - self->uploadRead);
            std::memcpy(buffer, self->upload.data() + self->uploadRead, n);
            self->uploadRead += n;
            return n;
        }
        // Asked for more than there is: everything handed over so far is sent.
        self->wantsMoreUpload = true;
        if (self->uploadRead >= self->uploadTotal) return 0;
        self->sendPaused = true;
        return CURL_READFUNC_PAUSE;
    }

    // The library rewinds the body when it sends the request once more (an
    // authentication round, a redirect); what was written is still here.
    static int OnSeek(void* user, curl_off_t offset, int origin) {
        auto* self = static_cast<Impl*>(user);
        if (origin != SEEK_SET || offset < 0 || static_cast<uint64_t>(offset) > self->upload.size()) {
            return CURL_SEEKFUNC_CANTSEEK;
        }
        self->uploadRead = static_cast<size_t>(offset);
        return CURL_SEEKFUNC_OK;
    }

    static int OnDebug(CURL*, curl_infotype type, char*, size_t, void* user) {
        auto* self = static_cast<Impl*>(user);
        switch (type) {
            case CURLINFO_HEADER_OUT:
                // A request went out: what came before is not its answer.
                self->requestSent = true;
                self->ResetResponse();
                self->Touch();
                break;
            case CURLINFO_DATA_OUT:
            case CURLINFO_HEADER_IN:
            case CURLINFO_DATA_IN:
                self->Touch();
                break;
            default:
                break;
        }
        return 0;
    }

    void CollectMessages() {
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
            if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy) {
                done = true;
                result = msg->data.result;
            }
        }
    }

    void UpdatePause() {
        int mask = (sendPaused ? CURLPAUSE_SEND : 0) | (receivePaused ? CURLPAUSE_RECV : 0);
        curl_easy_pause(easy, mask);
    }

    // Runs the transfer until ready() holds, the transfer ends, timeoutMs
    // pass without progress, or the abort flag is set. Not a place for a
    // forced thread stop: the library's state must stay whole; the abort flag
    // is how a stopping owner gets the thread out of here in time.
    bool Drive(const std::function<bool()>& ready) {
        Touch();
        for (;;) {
            // Checked before the library runs, so that a flag set beforehand
            // lets nothing more go out.
            if (AbortRequested()) {
                aborted = true;
                stalled = true;
                return false;
            }
            int running = 0;
            if (curl_multi_perform(multi, &running) != CURLM_OK) return false;
            CollectMessages();
            if (ready()) return true;
            if (done) return false;
            uint64_t idle = MonotonicMilliseconds() - lastActivity;
            if (idle >= timeoutMs) {
                stalled = true;
                return false;
            }
            uint64_t slice = abortFlag.load() ? kAbortCheckMs : 1000;
            int wait = static_cast<int>(std::min<uint64_t>(timeoutMs - idle, slice));
            int fds = 0;
            if (curl_multi_poll(multi, nullptr, 0, wait, &fds) != CURLM_OK) return false;
        }
    }

    void CloseRequest() {
        if (active) {
            // An answer whose body is still on its way is read to its end,
            // within bounds, so that the connection can carry the next request.
            if (!done && !stalled && headersComplete && uploadRead >= uploadTotal) {
                draining = true;
                drained = 0;
                receivePaused = false;
                sendPaused = false;
                UpdatePause();
                Drive([this] { return done; });
                draining = false;
            }
            curl_multi_remove_handle(multi, easy);
            active = false;
        }
        if (headerList) {
            curl_slist_free_all(headerList);
            headerList = nullptr;
        }
        requestOpen = false;
        done = false;
        result = CURLE_OK;
        stalled = false;
        aborted = false;
        requestSent = false;
        upload.clear();
        uploadTotal = 0;
        uploadRead = 0;
        wantsMoreUpload = false;
        sendPaused = false;
        receivePaused = false;
        headers.clear();
        credentials = false;
        userName.clear();
        password.clear();
        ResetResponse();
    }

    void CloseSession() {
        if (easy) {
            curl_easy_cleanup(easy);
            easy = nullptr;
        }
        if (multi) {
            curl_multi_cleanup(multi);
            multi = nullptr;
        }
        connected = false;
    }

    bool ApplyRequestOptions() {
        bool ok = true;
        auto set = [&ok](CURLcode code) { ok = ok && code == CURLE_OK; };
        // The path goes into the URL (not a separate request target) because
        // Digest signs the URL's path and query.
        std::string url = std::string(secure ? "https://" : "http://") + authority + target;
        set(curl_easy_setopt(easy, CURLOPT_URL, url.c_str()));

        if (verb == "GET" || verb == "HEAD") {
            set(curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L));
            set(curl_easy_setopt(easy, CURLOPT_NOBODY, verb == "HEAD" ? 1L : 0L));
            set(curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, nullptr));
        } else {
            // Every other verb announces its body length, also when it is 0.
            set(curl_easy_setopt(easy, CURLOPT_NOBODY, 0L));
            set(curl_easy_setopt(easy, CURLOPT_UPLOAD, 1L));
            set(curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(uploadTotal)));
            set(curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, verb.c_str()));
        }

        if (credentials) {
            set(curl_easy_setopt(easy, CURLOPT_HTTPAUTH, authMask));
            set(curl_easy_setopt(easy, CURLOPT_USERNAME, userName.c_str()));
            set(curl_easy_setopt(easy, CURLOPT_PASSWORD, password.c_str()));
        } else {
            set(curl_easy_setopt(easy, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC)));
            set(curl_easy_setopt(easy, CURLOPT_USERNAME, nullptr));
            set(curl_easy_setopt(easy, CURLOPT_PASSWORD, nullptr));
        }
        set(curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, ignoreCertificates ? 0L : 1L));
        set(curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, ignoreCertificates ? 0L : 2L));
        set(curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, followRedirects ? 1L : 0L));
        if (!ok) return false;

        // The caller's lines, and neither the library's own Accept line nor
        // an Expect: 100-continue that would hold a body back, unless the
        // caller asks for them.
        bool hasAccept = false;
        bool hasExpect = false;
        for (const auto& header : headers) {
            curl_slist* list = curl_slist_append(headerList, header.second.c_str());
            if (!list) return false;
            headerList = list;
            if (EqualsNoCase(header.first, "Accept")) hasAccept = true;
            if (EqualsNoCase(header.first, "Expect")) hasExpect = true;
        }
        for (const char* suppressed : {hasAccept ? nullptr : "Accept:", hasExpect ? nullptr : "Expect:"}) {
            if (!suppressed) continue;
            curl_slist* list = curl_slist_append(headerList, suppressed);
            if (!list) return false;
            headerList = list;
        }
        return curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headerList) == CURLE_OK;
    }
};

HttpTransport::HttpTransport() : impl_(std::make_unique<Impl>()) {}

HttpTransport::~HttpTransport() = default;

bool HttpTransport::OpenSession(const std::string& userAgent, uint32_t timeoutMs, uint32_t maxConnectionsPerServer) {
    if (impl_->easy) return true;
    InitialiseLibrary();
    CURLM* multi = curl_multi_init();
    CURL* easy = curl_easy_init();
    if (!multi || !easy) {
        if (easy) curl_easy_cleanup(easy);
        if (multi) curl_multi_cleanup(multi);
        return false;
    }
    impl_->multi = multi;
    impl_->easy = easy;
    // As with the Windows HTTP stack, 0 means no bound.
    impl_->timeoutMs = timeoutMs == 0 ? 0xFFFFFFFFu : timeoutMs;
    Impl* self = impl_.get();
    bool ok = true;
    auto set = [&ok](CURLcode code) { ok = ok && code == CURLE_OK; };
    ok = curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, static_cast<long>(maxConnectionsPerServer)) ==
         CURLM_OK;
    set(curl_easy_setopt(easy, CURLOPT_USERAGENT, userAgent.c_str()));
    set(curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L));
    set(curl_easy_setopt(easy, CURLOPT_PROXY, ""));
    set(curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https"));
    set(curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https"));
    set(curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1)));
    // Resolving and connecting together; the library's 0 is its own default.
    set(curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeoutMs)));
#if LIBCURL_VERSION_NUM >= 0x075700
    // With the threaded resolver, giving up a request (time-out or abort)
    // while a name is being looked up would otherwise wait for the look-up
    // to end; this lets the resolver thread finish on its own instead. A
    // library without the option just keeps waiting.
    static_cast<void>(curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L));
#endif
    set(curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects));
    set(curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L));
    set(curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Impl::OnHeader));
    set(curl_easy_setopt(easy, CURLOPT_HEADERDATA, self));
    set(curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Impl::OnBody));
    set(curl_easy_setopt(easy, CURLOPT_WRITEDATA, self));
    set(curl_easy_setopt(easy, CURLOPT_READFUNCTION, &Impl::OnUpload));
    set(curl_easy_setopt(easy, CURLOPT_READDATA, self));
    set(curl_easy_setopt(easy, CURLOPT_SEEKFUNCTION, &Impl::OnSeek));
    set(curl_easy_setopt(easy, CURLOPT_SEEKDATA, self));
    // The debug stream is how the transport learns that a request went out.
    set(curl_easy_setopt(easy, CURLOPT_DEBUGFUNCTION, &Impl::OnDebug));
    set(curl_easy_setopt(easy, CURLOPT_DEBUGDATA, self));
    set(curl_easy_setopt(easy, CURLOPT_VERBOSE, 1L));
    if (!ok) {
        impl_->CloseSession();
        return false;
    }
    return true;
}

bool HttpTransport::HasSession() const { return impl_->easy != nullptr; }

void HttpTransport::SetAbortFlag(const std::atomic<bool>* flag) { impl_->abortFlag = flag; }

bool HttpTransport::AbortRequested() const { return impl_->AbortRequested(); }

bool HttpTransport::RequestAborted() const { return impl_->aborted; }

bool HttpTransport::Connect(const std::string& host, uint16_t port) {
    if (!impl_->easy || host.empty() || port == 0) return false;
    for (char c : host) {
        if (!IsHostChar(c)) return false;
    }
    std::string name = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    impl_->authority = name + ":" + std::to_string(port);
    impl_->connected = true;
    return true;
}

bool HttpTransport::HasConnection() const { return impl_->connected; }

bool HttpTransport::OpenRequest(const std::string& verb, const std::string& objectName, bool secure,
                                bool escapeQuery) {
    if (!impl_->connected || verb.empty() || objectName.empty()) return false;
    for (char c : verb) {
        if (!IsTokenChar(c)) return false;
    }
    impl_->CloseRequest();
    impl_->verb = verb;
    impl_->target = EscapeTarget(objectName, escapeQuery);
    impl_->secure = secure;
    impl_->ignoreCertificates = false;
    impl_->followRedirects = true;
    impl_->requestOpen = true;
    return true;
}

bool HttpTransport::HasRequest() const { return impl_->requestOpen; }

bool HttpTransport::SetCredentials(uint32_t scheme, const std::string& userName, const std::string& password) {
    if (!impl_->requestOpen || impl_->active) return false;
    long mask;
    switch (scheme) {
        case kHttpAuthBasic:
            mask = CURLAUTH_BASIC;
            break;
        case kHttpAuthDigest:
            mask = CURLAUTH_DIGEST;
            break;
        case kHttpAuthNtlm:
            mask = CURLAUTH_NTLM;
            break;
        case kHttpAuthNegotiate:
            mask = static_cast<long>(CURLAUTH_NEGOTIATE);
            break;
        default:
            return false;
    }
    // Setting the scheme is how the library tells whether it was built with it.
    if (curl_easy_setopt(impl_->easy, CURLOPT_HTTPAUTH, mask) != CURLE_OK) return false;
    impl_->authMask = mask;
    impl_->credentials = true;
    impl_->userName = userName;
    impl_->password = password;
    return true;
}

bool HttpTransport::IgnoreCertificateErrors() {
    if (!impl_->requestOpen || impl_->active) return false;
    impl_->ignoreCertificates = true;
    return true;
}

bool HttpTransport::DisableRedirects() {
    if (!impl_->requestOpen || impl_->active) return false;
    impl_->followRedirects = false;
    return true;
}

bool HttpTransport::AddHeader(const std::string& line) {
    if (!impl_->requestOpen || impl_->active) return false;
    if (line.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) return false;
    size_t colon = line.find(':');
    if (colon == std::string::npos) return false;
    std::string name = Trim(line.substr(0, colon));
    if (name.empty()) return false;
    for (char c : name) {
        if (!IsTokenChar(c)) return false;
    }
    std::string value = Trim(line.substr(colon + 1));
    auto& headers = impl_->headers;
    auto same = std::find_if(headers.begin(), headers.end(), [&name](const std::pair<std::string, std::string>& h) {
        return EqualsNoCase(h.first, name.c_str());
    });
    if (value.empty()) {
        if (same != headers.end()) headers.erase(same);
    } else if (same != headers.end()) {
        same->second = line;
    } else {
        headers.emplace_back(name, line);
    }
    return true;
}

bool HttpTransport::SendRequest(const uint8_t* body, size_t length, uint64_t totalLength) {
    Impl& d = *impl_;
    if (!d.requestOpen || d.active || !d.easy) return false;
    if (body && length > 0) d.upload.assign(body, body + length);
    d.uploadTotal = std::max<uint64_t>(totalLength, d.upload.size());
    d.uploadRead = 0;
    if (!d.ApplyRequestOptions()) return false;
    if (curl_multi_add_handle(d.multi, d.easy) != CURLM_OK) return false;
    d.active = true;
    if (d.Drive([&d] { return d.requestSent && (d.uploadTotal == 0 || d.wantsMoreUpload); })) return true;
    // A server may answer before it has read the whole body.
    return !d.aborted && d.done && d.headersComplete;
}

bool HttpTransport::ReceiveResponse() {
    Impl& d = *impl_;
    if (!d.active) return false;
    if (d.ResponseReady() || d.Drive([&d] { return d.ResponseReady(); })) return true;
    return !d.aborted && d.done && d.headersComplete;
}

bool HttpTransport::QueryStatusCode(uint32_t& status) const {
    status = 0;
    if (!impl_->active || !impl_->headersComplete || !impl_->statusValid) return false;
    status = impl_->status;
    return true;
}

bool HttpTransport::QueryContentLength(uint32_t& length) const {
    length = 0;
    if (!impl_->active || !impl_->headersComplete || !impl_->hasContentLength) return false;
    return ParseContentLengthValue(impl_->contentLength, length);
}

bool HttpTransport::QueryAuthSchemes(uint32_t& firstScheme) const {
    firstScheme = 0;
    if (!impl_->active || !impl_->headersComplete) return false;
    return FirstOfferedAuthScheme(impl_->authenticate.data(), impl_->authenticate.size(), firstScheme);
}

bool HttpTransport::WriteData(const uint8_t* data, size_t length, size_t& written) {
    Impl& d = *impl_;
    written = 0;
    if (!d.active || d.done || !data || length == 0) return false;
    size_t start = d.upload.size();
    d.upload.insert(d.upload.end(), data, data + length);
    d.wantsMoreUpload = false;
    d.sendPaused = false;
    d.UpdatePause();
    d.Drive([&d] { return d.wantsMoreUpload; });
    size_t consumed = std::min(d.uploadRead, d.upload.size());
    written = consumed > start ? consumed - start : 0;
    // Bytes the library took may not have left when the request was given up.
    return written == length && !d.aborted;
}

bool HttpTransport::ReadData(uint8_t* buffer, size_t size, size_t& read) {
    Impl& d = *impl_;
    read = 0;
    if (!d.active || !buffer || size == 0) return false;
    auto available = [&d] { return d.body.size() > d.bodyOffset; };
    if (!available() && !d.done && !d.stalled) d.Drive(available);
    if (available()) {
        read = std::min(size, d.body.size() - d.bodyOffset);
        std::memcpy(buffer, d.body.data() + d.bodyOffset, read);
        d.bodyOffset += read;
        if (d.receivePaused && d.body.size() - d.bodyOffset < kMaxBufferedBody) {
            d.receivePaused = false;
            d.UpdatePause();
        }
        return true;
    }
    return !d.aborted && d.done && d.result == CURLE_OK;
}

void HttpTransport::CloseRequest() { impl_->CloseRequest(); }

void HttpTransport::CloseConnection() {
    impl_->CloseRequest();
    impl_->connected = false;
    impl_->authority.clear();
}

void HttpTransport::CloseSession() {
    impl_->CloseRequest();
    impl_->CloseSession();
}

}  // namespace platform
}  // namespace telvaro
