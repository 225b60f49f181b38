#include "platform/http_transport.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/clock.h"
#include "platform/http_syntax.h"
#include "util/text.h"

namespace telvaro {
namespace platform {

namespace {

void InitialiseLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

struct HttpTransport::Impl {
    ~Impl() { Release(); }

    CURLM* multi = nullptr;
    CURL* easy = nullptr;
    std::atomic<const std::atomic<bool>*> abortFlag{nullptr};

    // The exchange under way.
    HttpAnswer* answer = nullptr;
    size_t maxBodySize = 0;
    size_t headBytes = 0;
    bool bodyStarted = false;
    bool tooLarge = false;
    const uint8_t* upload = nullptr;
    size_t uploadSize = 0;
    size_t uploadRead = 0;
    uint64_t bodyDue = 0;
    bool bodyPaused = false;

    bool AbortRequested() const {
        const std::atomic<bool>* flag = abortFlag.load();
        return flag && flag->load();
    }

    // The handles live from the first exchange until Close; the multi handle
    // keeps the connection between exchanges.
    bool Prepare() {
        if (easy) return true;
        InitialiseLibrary();
        multi = curl_multi_init();
        easy = curl_easy_init();
        bool ok = multi && easy;
        auto set = [&ok](CURLcode code) { ok = ok && code == CURLE_OK; };
        if (ok) {
            set(curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L));
            set(curl_easy_setopt(easy, CURLOPT_PROXY, ""));
            set(curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http"));
            set(curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1)));
            set(curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L));
#if LIBCURL_VERSION_NUM >= 0x075700
            // Giving up while a name is being looked up does not wait for
            // the resolver thread; it finishes on its own.
            static_cast<void>(curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L));
#endif
            set(curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Impl::OnHeader));
            set(curl_easy_setopt(easy, CURLOPT_HEADERDATA, this));
            set(curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Impl::OnBody));
            set(curl_easy_setopt(easy, CURLOPT_WRITEDATA, this));
            set(curl_easy_setopt(easy, CURLOPT_READFUNCTION, &Impl::OnUpload));
            set(curl_easy_setopt(easy, CURLOPT_READDATA, this));
            set(curl_easy_setopt(easy, CURLOPT_SEEKFUNCTION, &Impl::OnSeek));
            set(curl_easy_setopt(easy, CURLOPT_SEEKDATA, this));
        }
        if (!ok) Release();
        return ok;
    }

    void Release() {
        if (easy) curl_easy_cleanup(easy);
        if (multi) curl_multi_cleanup(multi);
        easy = nullptr;
        multi = nullptr;
    }

    static size_t OnHeader(char* data, size_t size, size_t count, void* user) {
        auto* self = static_cast<Impl*>(user);
        size_t n = size * count;
        self->headBytes += n;
        if (self->headBytes > kMaxHeadSize) {
            self->tooLarge = true;
            return 0;
        }
        // Trailers of a chunked body are not part of the answer's head.
        if (self->bodyStarted) return n;
        std::string line(data, n);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        HttpAnswer& answer = *self->answer;
        if (line.compare(0, 5, "HTTP/") == 0) {
            // A new status line: an interim 1xx answer is followed by the real one.
            size_t space = line.find(' ');
            answer.status = 0;
            answer.headers.clear();
            for (size_t i = space + 1; space != std::string::npos && i < space + 4 && i < line.size(); ++i) {
                if (line[i] < '0' || line[i] > '9') break;
                answer.status = answer.status * 10 + static_cast<uint32_t>(line[i] - '0');
            }
            return n;
        }
        AnnouncedLength announced;
        if (!AddAnswerHeader(line, self->maxBodySize, answer, announced)) {
            self->tooLarge = true;
            return 0;
        }
        return n;
    }

    static size_t OnBody(char* data, size_t size, size_t count, void* user) {
        auto* self = static_cast<Impl*>(user);
        size_t n = size * count;
        self->bodyStarted = true;
        if (!AppendBody(self->answer->body, reinterpret_cast<const uint8_t*>(data), n, self->maxBodySize)) {
            self->tooLarge = true;
            return 0;
        }
        return n;
    }

    static size_t OnUpload(char* buffer, size_t size, size_t count, void* user) {
        auto* self = static_cast<Impl*>(user);
        if (MonotonicMilliseconds() < self->bodyDue) {
            self->bodyPaused = true;
            return CURL_READFUNC_PAUSE;
        }
        size_t n = std::min(size * count, self->uploadSize - self->uploadRead);
        if (n > 0) std::memcpy(buffer, self->upload + self->uploadRead, n);
        self->uploadRead += n;
        return n;
    }

    // A request on a kept connection that the server had closed meanwhile
    // is sent once more on a new one, body and all.
    static int OnSeek(void* user, curl_off_t offset, int origin) {
        auto* self = static_cast<Impl*>(user);
        if (origin != SEEK_SET || offset < 0 || static_cast<uint64_t>(offset) > self->uploadSize) {
            return CURL_SEEKFUNC_CANTSEEK;
        }
        self->uploadRead = static_cast<size_t>(offset);
        return CURL_SEEKFUNC_OK;
    }

    bool Configure(const HttpExchange& request, curl_slist*& lines) {
        bool ok = true;
        auto set = [&ok](CURLcode code) { ok = ok && code == CURLE_OK; };
        std::string host = request.host.find(':') != std::string::npos ? "[" + request.host + "]" : request.host;
        std::string url = "http://" + host + ":" + std::to_string(request.port) + "/";
        set(curl_easy_setopt(easy, CURLOPT_URL, url.c_str()));
        set(curl_easy_setopt(easy, CURLOPT_REQUEST_TARGET, request.target.c_str()));
        if (request.method == "GET") {
            set(curl_easy_setopt(easy, CURLOPT_UPLOAD, 0L));
            set(curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L));
            set(curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, nullptr));
        } else {
            set(curl_easy_setopt(easy, CURLOPT_UPLOAD, 1L));
            set(curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(request.bodySize)));
            set(curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str()));
        }
        set(curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(request.timeoutMs)));
        set(curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.timeoutMs)));

        // The caller's lines, and neither the library's own Accept line nor
        // an Expect: 100-continue that would hold the body back.
        bool accept = false;
        bool expect = false;
        std::vector<std::string> all = request.headers;
        for (const std::string& line : request.headers) {
            std::string name = TrimBlanks(line.substr(0, line.find(':')));
            accept = accept || EqualsNoCase(name, "Accept");
            expect = expect || EqualsNoCase(name, "Expect");
        }
        if (!accept) all.emplace_back("Accept:");
        if (!expect) all.emplace_back("Expect:");
        for (const std::string& line : all) {
            curl_slist* more = curl_slist_append(lines, line.c_str());
            if (!more) return false;
            lines = more;
        }
        set(curl_easy_setopt(easy, CURLOPT_HTTPHEADER, lines));
        return ok;
    }

    // Runs the transfer as curl_easy_perform would, but waits at most
    // kAbortCheckMs at a time: on a silent connection the library calls its
    // progress function only about once a second.
    HttpOutcome Run() {
        if (curl_multi_add_handle(multi, easy) != CURLM_OK) return HttpOutcome::kNoAnswer;
        bool done = false;
        CURLcode result = CURLE_OK;
        bool aborted = false;
        for (;;) {
            int running = 0;
            if (curl_multi_perform(multi, &running) != CURLM_OK) break;
            int left = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
                if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
                    done = true;
                    result = message->data.result;
                }
            }
            if (done) break;
            if (AbortRequested()) {
                aborted = true;
                break;
            }
            uint64_t now = MonotonicMilliseconds();
            if (bodyPaused && now >= bodyDue) {
                bodyPaused = false;
                curl_easy_pause(easy, CURLPAUSE_CONT);
                continue;
            }
            uint64_t wait = bodyPaused ? std::min<uint64_t>(kAbortCheckMs, bodyDue - now) : kAbortCheckMs;
            if (curl_multi_poll(multi, nullptr, 0, static_cast<int>(wait), nullptr) != CURLM_OK) break;
        }
        // Removed before its end, the transfer's connection is closed.
        curl_multi_remove_handle(multi, easy);
        if (aborted) return HttpOutcome::kAborted;
        if (tooLarge) return HttpOutcome::kTooLarge;
        if (!done) return HttpOutcome::kNoAnswer;
        switch (result) {
            case CURLE_OK:
                return answer->status != 0 ? HttpOutcome::kAnswered : HttpOutcome::kNoAnswer;
            case CURLE_COULDNT_RESOLVE_HOST:
                return HttpOutcome::kNotResolved;
            case CURLE_COULDNT_CONNECT:
                return OsError() == ECONNREFUSED ? HttpOutcome::kConnectionRefused : HttpOutcome::kNoConnection;
            case CURLE_OPERATION_TIMEDOUT:
                // Out of time before a connection stood is no connection;
                // a look-up that did not end in time leaves no address either.
                if (!Connected()) return HttpOutcome::kNoConnection;
                return HttpOutcome::kTimedOut;
            case CURLE_PARTIAL_FILE:
                return HttpOutcome::kCut;
            default:
                return bodyStarted ? HttpOutcome::kCut : HttpOutcome::kNoAnswer;
        }
    }

    long OsError() const {
        long error = 0;
        return curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &error) == CURLE_OK ? error : 0;
    }

    // Whether this transfer had a connection: a new one that was made, or
    // a kept one that its request went out on.
    bool Connected() const {
        curl_off_t connect = 0;
        long sent = 0;
        return (curl_easy_getinfo(easy, CURLINFO_CONNECT_TIME_T, &connect) == CURLE_OK && connect > 0) ||
               (curl_easy_getinfo(easy, CURLINFO_REQUEST_SIZE, &sent) == CURLE_OK && sent > 0);
    }
};

HttpTransport::HttpTransport() : impl_(std::make_unique<Impl>()) {}

HttpTransport::~HttpTransport() = default;

void HttpTransport::SetAbortFlag(const std::atomic<bool>* flag) { impl_->abortFlag = flag; }

bool HttpTransport::AbortRequested() const { return impl_->AbortRequested(); }

HttpOutcome HttpTransport::Exchange(const HttpExchange& request, HttpAnswer& answer) {
    answer = HttpAnswer();
    if (!IsSendable(request)) return HttpOutcome::kRefused;
    Impl& d = *impl_;
    if (d.AbortRequested()) return HttpOutcome::kAborted;
    if (!d.Prepare()) return HttpOutcome::kNoAnswer;

    d.answer = &answer;
    d.maxBodySize = request.maxBodySize;
    d.headBytes = 0;
    d.bodyStarted = false;
    d.tooLarge = false;
    d.upload = request.body;
    d.uploadSize = request.bodySize;
    d.uploadRead = 0;
    d.bodyDue = MonotonicMilliseconds() + request.bodyDelayMs;
    d.bodyPaused = false;

    curl_slist* lines = nullptr;
    HttpOutcome outcome = d.Configure(request, lines) ? d.Run() : HttpOutcome::kRefused;
    curl_easy_setopt(d.easy, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(lines);
    d.answer = nullptr;
    if (outcome != HttpOutcome::kAnswered) answer = HttpAnswer();
    return outcome;
}

void HttpTransport::Close() { impl_->Release(); }

// This backend starts no thread of its own: nothing is left behind.
void HttpTransport::AwaitLeftBehind() {}

}  // namespace platform
}  // namespace telvaro
