// WinHTTP backend: one synchronous request per exchange on a session that
// keeps the server's connection between exchanges. WinHTTP never answers a
// 401 here (no credentials are ever given to it): the caller signs its
// requests itself, which is also what makes Digest work under Wine, whose
// WinHTTP sends no Authorization for a Digest challenge.
#include "platform/http_transport.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/clock.h"
#include "platform/http_syntax.h"
#include "platform/native_thread.h"
#include "platform/wide_text_win32.h"

namespace telvaro {
namespace platform {

namespace {

// Wine reports a receive time-out as WSAETIMEDOUT instead of WinHTTP's own.
constexpr DWORD kWinsockTimedOut = 10060;

class Handle {
public:
    Handle() = default;
    ~Handle() { Reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    void Reset(HINTERNET h = nullptr) {
        if (h_) WinHttpCloseHandle(h_);
        h_ = h;
    }
    HINTERNET Get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }

private:
    HINTERNET h_ = nullptr;
};

// What a thread given up on may take beyond the WinHTTP call it is in,
// which ends within its time-out; it makes no other call after it.
constexpr uint32_t kEndGraceMs = 2000;

// One exchange, shared by the caller and the thread that makes it. The
// caller waits for it in slices of kAbortCheckMs; when the abort flag is set
// or the time is up it closes the request handle and returns at once: a
// synchronous WinHTTP call is not always ended by that (Wine's are not), so
// the thread finishes on its own, within WinHTTP's time-outs, on a copy of
// everything it needs (see LeftBehind).
struct Job {
    Job() : done(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Job() {
        if (done) CloseHandle(done);
    }
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;

    HttpExchange request;
    std::vector<uint8_t> body;
    std::atomic<HINTERNET> handle{nullptr};
    std::atomic<bool> stopped{false};
    // A connection to the server stood: WinHTTP's status callback says so
    // as it connects or, on a kept connection, as it starts to send.
    std::atomic<bool> connected{false};
    uint64_t deadline = 0;  // 0: none
    HttpAnswer answer;
    HttpOutcome outcome = HttpOutcome::kNoAnswer;
    DWORD error = 0;
    HANDLE done;

    void Close() {
        if (HINTERNET h = handle.exchange(nullptr)) WinHttpCloseHandle(h);
    }

    // The time left, for WinHTTP's own time-outs (0: no bound).
    int Left() const {
        if (deadline == 0) return 0;
        uint64_t now = MonotonicMilliseconds();
        return now >= deadline ? 1 : static_cast<int>(std::min<uint64_t>(deadline - now, 0x7FFFFFFF));
    }

    HttpOutcome Failed(bool bodyStarted) {
        error = GetLastError();
        // WinHTTP names a failed connect, but not whether it was refused.
        if (error == ERROR_WINHTTP_NAME_NOT_RESOLVED) return HttpOutcome::kNotResolved;
        if (error == ERROR_WINHTTP_CANNOT_CONNECT) return HttpOutcome::kNoConnection;
        if (error == ERROR_WINHTTP_TIMEOUT || error == kWinsockTimedOut) {
            return connected.load() ? HttpOutcome::kTimedOut : HttpOutcome::kNoConnection;
        }
        return bodyStarted ? HttpOutcome::kCut : HttpOutcome::kNoAnswer;
    }

    bool DelayBody(uint32_t ms) {
        uint64_t due = MonotonicMilliseconds() + ms;
        for (;;) {
            if (stopped.load()) return false;
            uint64_t now = MonotonicMilliseconds();
            if (now >= due) return true;
            Sleep(static_cast<DWORD>(std::min<uint64_t>(due - now, HttpTransport::kAbortCheckMs)));
        }
    }

    // The caller's lines and the body's length, and the time left as
    // WinHTTP's own time-outs.
    bool Prepare(HINTERNET h, bool hasBody) {
        std::string lines;
        for (const std::string& line : request.headers) lines += line + "\r\n";
        if (hasBody) lines += "Content-Length: " + std::to_string(body.size()) + "\r\n";
        if (!lines.empty()) {
            std::wstring wide = WidenBytes(lines);
            if (!WinHttpAddRequestHeaders(h, wide.c_str(), static_cast<DWORD>(wide.size()),
                                          WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE)) {
                return false;
            }
        }
        int left = Left();
        WinHttpSetTimeouts(h, left, left, left, left);
        DWORD responseTimeout = static_cast<DWORD>(left);
        // Wine waits for the answer's head with this one only.
        WinHttpSetOption(h, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout, sizeof(responseTimeout));
        return true;
    }

    // Headers first; a body follows on its own, after its delay.
    // kAnswered: all has gone out.
    HttpOutcome Send(HINTERNET h, bool hasBody) {
        DWORD total = hasBody ? static_cast<DWORD>(body.size()) : 0;
        if (!WinHttpSendRequest(h, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, total, 0)) {
            return Failed(false);
        }
        connected.store(true);
        if (!hasBody || body.empty()) return HttpOutcome::kAnswered;
        if (request.bodyDelayMs > 0 && !DelayBody(request.bodyDelayMs)) return HttpOutcome::kNoAnswer;
        size_t offset = 0;
        while (offset < body.size()) {
            DWORD written = 0;
            DWORD chunk = static_cast<DWORD>(std::min<size_t>(body.size() - offset, 64 * 1024));
            if (!WinHttpWriteData(h, body.data() + offset, chunk, &written) || written == 0) return Failed(false);
            offset += written;
        }
        return HttpOutcome::kAnswered;
    }

    // The status and the header lines into the answer. kAnswered: the head
    // is there and within its bounds.
    HttpOutcome ReadHead(HINTERNET h, AnnouncedLength& announced) {
        DWORD status = 0;
        DWORD size = sizeof(status);
        if (!WinHttpQueryHeaders(h, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                                 &status, &size, WINHTTP_NO_HEADER_INDEX)) {
            return Failed(false);
        }
        // The head, as one text of CRLF-ended lines starting with the status line.
        size = 0;
        WinHttpQueryHeaders(h, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                            &size, WINHTTP_NO_HEADER_INDEX);
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return Failed(false);
        if (size / sizeof(wchar_t) > HttpTransport::kMaxHeadSize) return HttpOutcome::kTooLarge;
        std::wstring raw(size / sizeof(wchar_t) + 1, L'\0');
        if (!WinHttpQueryHeaders(h, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, &raw[0], &size,
                                 WINHTTP_NO_HEADER_INDEX)) {
            return Failed(false);
        }
        std::string head = NarrowBytes(raw.c_str(), size / sizeof(wchar_t));
        answer.status = status;
        size_t start = head.find("\r\n");
        while (start != std::string::npos && start + 2 < head.size()) {
            size_t end = head.find("\r\n", start + 2);
            std::string line = head.substr(start + 2, end == std::string::npos ? std::string::npos : end - start - 2);
            start = end;
            if (!AddAnswerHeader(line, request.maxBodySize, answer, announced)) return HttpOutcome::kTooLarge;
        }
        return HttpOutcome::kAnswered;
    }

    HttpOutcome ReadBody(HINTERNET h, const AnnouncedLength& announced) {
        std::vector<uint8_t>& received = answer.body;
        uint8_t buffer[16 * 1024];
        for (;;) {
            DWORD read = 0;
            if (!WinHttpReadData(h, buffer, sizeof(buffer), &read)) return Failed(!received.empty() || announced.known);
            if (read == 0) break;
            if (!AppendBody(received, buffer, read, request.maxBodySize)) return HttpOutcome::kTooLarge;
        }
        if (announced.known && received.size() < announced.length) return HttpOutcome::kCut;
        return HttpOutcome::kAnswered;
    }

    // Between WinHTTP's calls an exchange given up on ends at once.
    HttpOutcome Run() {
        HINTERNET h = handle.load();
        if (!h) return HttpOutcome::kNoAnswer;
        const bool hasBody = request.method != "GET";
        if (!Prepare(h, hasBody)) return HttpOutcome::kRefused;
        HttpOutcome outcome = Send(h, hasBody);
        if (outcome != HttpOutcome::kAnswered) return outcome;
        if (stopped.load()) return HttpOutcome::kNoAnswer;
        if (!WinHttpReceiveResponse(h, nullptr)) return Failed(false);
        if (stopped.load()) return HttpOutcome::kNoAnswer;
        AnnouncedLength announced;
        outcome = ReadHead(h, announced);
        return outcome == HttpOutcome::kAnswered ? ReadBody(h, announced) : outcome;
    }

    void Make() {
        try {
            outcome = Run();
        } catch (...) {
            outcome = HttpOutcome::kNoAnswer;
        }
        Close();
        SetEvent(done);
    }

    // Called on the exchange's thread, within its WinHTTP calls. Under Wine
    // the synchronous send has not returned while the answer's head
    // trickles in, so only this tells such a head from no connection.
    static void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID, DWORD) {
        if (context && (status == WINHTTP_CALLBACK_STATUS_CONNECTED_TO_SERVER ||
                        status == WINHTTP_CALLBACK_STATUS_SENDING_REQUEST)) {
            reinterpret_cast<Job*>(context)->connected.store(true);
        }
    }

    bool Watch(HINTERNET h) {
        DWORD_PTR context = reinterpret_cast<DWORD_PTR>(this);
        return WinHttpSetOption(h, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof(context)) &&
               WinHttpSetStatusCallback(h, &Job::OnStatus,
                                        WINHTTP_CALLBACK_FLAG_CONNECT_TO_SERVER | WINHTTP_CALLBACK_FLAG_SEND_REQUEST,
                                        0) != WINHTTP_INVALID_STATUS_CALLBACK;
    }

    // How long its thread may still take to end, from now.
    uint32_t EndBoundMs() const {
        if (deadline == 0) return kEndGraceMs;
        uint64_t now = MonotonicMilliseconds();
        uint64_t left = deadline > now ? deadline - now : 0;
        return static_cast<uint32_t>(std::min<uint64_t>(left + request.timeoutMs + kEndGraceMs, 0x7FFFFFFF));
    }
};

// The threads of exchanges given up on, in the whole process. Each holds a
// reference on this library, so that a host that unloads it while such a
// thread is still in WinHTTP leaves the code it returns to in place;
// AwaitLeftBehind, called by the host's thread, gives the references back.
class LeftBehind {
public:
    static LeftBehind& Threads() {
        static LeftBehind threads;
        return threads;
    }

    void Add(std::shared_ptr<NativeThread> thread, std::shared_ptr<Job> job) {
        HMODULE self = nullptr;
        if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&Job::OnStatus),
                                &self)) {
            self = nullptr;
        }
        std::lock_guard<std::mutex> guard(mutex_);
        // Those that have ended meanwhile are joined now.
        auto ended = [this](Left& left) {
            if (!left.thread->Join(0, false)) return false;
            ended_.push_back(left.self);
            return true;
        };
        running_.erase(std::remove_if(running_.begin(), running_.end(), ended), running_.end());
        running_.push_back(Left{std::move(thread), std::move(job), self});
    }

    void Await() {
        std::vector<Left> running;
        std::vector<HMODULE> ended;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            running.swap(running_);
            ended.swap(ended_);
        }
        for (Left& left : running) {
            if (!left.thread->Join(left.job->EndBoundMs(), false)) left.thread->Terminate(kEndGraceMs);
            ended.push_back(left.self);
        }
        for (HMODULE self : ended) {
            if (self) FreeLibrary(self);
        }
    }

private:
    struct Left {
        std::shared_ptr<NativeThread> thread;
        std::shared_ptr<Job> job;
        HMODULE self;
    };
    std::mutex mutex_;
    std::vector<Left> running_;
    std::vector<HMODULE> ended_;
};

}  // namespace

struct HttpTransport::Impl {
    std::atomic<const std::atomic<bool>*> abortFlag{nullptr};
    Handle session;
    Handle connection;
    std::string connectedHost;
    uint16_t connectedPort = 0;

    bool AbortRequested() const {
        const std::atomic<bool>* flag = abortFlag.load();
        return flag && flag->load();
    }

    void Release() {
        connection.Reset();
        session.Reset();
        connectedHost.clear();
        connectedPort = 0;
    }

    bool Prepare(const HttpExchange& exchange) {
        if (!session) {
            session.Reset(WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                      WINHTTP_NO_PROXY_BYPASS, 0));
            if (!session) return false;
        }
        if (!connection || connectedHost != exchange.host || connectedPort != exchange.port) {
            connection.Reset(WinHttpConnect(session.Get(), WidenBytes(exchange.host).c_str(), exchange.port, 0));
            if (!connection) return false;
            connectedHost = exchange.host;
            connectedPort = exchange.port;
        }
        return true;
    }

    // Waits for the job; gives up on it for the abort flag or the deadline.
    HttpOutcome Await(Job& job) {
        for (;;) {
            if (WaitForSingleObject(job.done, kAbortCheckMs) == WAIT_OBJECT_0) return job.outcome;
            HttpOutcome reason;
            if (AbortRequested()) {
                reason = HttpOutcome::kAborted;
            } else if (job.deadline != 0 && MonotonicMilliseconds() >= job.deadline) {
                reason = job.connected.load() ? HttpOutcome::kTimedOut : HttpOutcome::kNoConnection;
            } else {
                continue;
            }
            job.stopped.store(true);
            job.Close();
            return reason;
        }
    }
};

HttpTransport::HttpTransport() : impl_(std::make_unique<Impl>()) {}

HttpTransport::~HttpTransport() { impl_->Release(); }

void HttpTransport::SetAbortFlag(const std::atomic<bool>* flag) { impl_->abortFlag = flag; }

bool HttpTransport::AbortRequested() const { return impl_->AbortRequested(); }

HttpOutcome HttpTransport::Exchange(const HttpExchange& request, HttpAnswer& answer) {
    answer = HttpAnswer();
    // WinHTTP counts a body's length in 32 bits.
    if (!IsSendable(request) || request.bodySize > 0xFFFFFFFFu) return HttpOutcome::kRefused;
    Impl& d = *impl_;
    if (d.AbortRequested()) return HttpOutcome::kAborted;
    if (!d.Prepare(request)) {
        d.Release();
        return HttpOutcome::kNoAnswer;
    }
    // The target goes out as given: it is escaped already.
    HINTERNET h = WinHttpOpenRequest(d.connection.Get(), WidenBytes(request.method).c_str(), WidenBytes(request.target).c_str(),
                                     nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                     WINHTTP_FLAG_ESCAPE_DISABLE | WINHTTP_FLAG_ESCAPE_DISABLE_QUERY);
    if (!h) {
        d.Release();
        return HttpOutcome::kNoAnswer;
    }
    // No redirects, no cookies, no logon of the user running the host.
    DWORD disable = WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_COOKIES;
    WinHttpSetOption(h, WINHTTP_OPTION_DISABLE_FEATURE, &disable, sizeof(disable));
    DWORD logon = WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH;
    WinHttpSetOption(h, WINHTTP_OPTION_AUTOLOGON_POLICY, &logon, sizeof(logon));

    std::shared_ptr<Job> job;
    HttpOutcome outcome = HttpOutcome::kNoAnswer;
    try {
        job = std::make_shared<Job>();
        job->request = request;
        job->body.assign(request.body, request.body + request.bodySize);
        job->request.body = nullptr;
    } catch (const std::bad_alloc&) {
        job.reset();
    }
    if (job && job->done && job->Watch(h)) {
        job->handle.store(h);
        h = nullptr;
        job->deadline = request.timeoutMs == 0 ? 0 : MonotonicMilliseconds() + request.timeoutMs;
        std::shared_ptr<NativeThread> thread = NativeThread::Start([job] { job->Make(); }, "HTTP exchange");
        if (!thread) {
            job->Close();
        } else {
            outcome = d.Await(*job);
            if (outcome == HttpOutcome::kAnswered) answer = std::move(job->answer);
            // A thread that is done ends at once; one given up on is kept.
            if (!thread->Join(WaitForSingleObject(job->done, 0) == WAIT_OBJECT_0 ? kEndGraceMs : 0, false)) {
                try {
                    LeftBehind::Threads().Add(std::move(thread), job);
                } catch (const std::bad_alloc&) {
                    // Not kept: the thread runs on detached.
                }
            }
        }
    }
    if (h) WinHttpCloseHandle(h);
    if (outcome != HttpOutcome::kAnswered) {
        // A request given up on leaves nothing behind to reuse.
        d.Release();
        answer = HttpAnswer();
    }
    return outcome;
}

void HttpTransport::Close() { impl_->Release(); }

void HttpTransport::AwaitLeftBehind() { LeftBehind::Threads().Await(); }

}  // namespace platform
}  // namespace telvaro
