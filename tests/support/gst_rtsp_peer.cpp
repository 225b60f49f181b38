#include "support/gst_rtsp_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace fakes {

namespace {

// Debian's interpreter: it has python3-gi; another python3 on PATH may not.
constexpr char kPython[] = "/usr/bin/python3";
constexpr int kListenTimeoutMs = 15000;

std::string ExitText(int status) {
    if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return std::string("killed by signal ") + strsignal(WTERMSIG(status));
    return "ended";
}

}  // namespace

GstRtspPeer::GstRtspPeer(Options options) : options_(std::move(options)) {}

GstRtspPeer::~GstRtspPeer() {
    Stop();
    if (!logPath_.empty()) unlink(logPath_.c_str());
}

bool GstRtspPeer::Start(std::string* error) {
    auto fail = [&](const std::string& why) {
        const std::string log = Log();
        Stop();
        if (error) *error = "GStreamer RTSP server " + std::string(OMBRELIX_GST_RTSP_SERVER) + ": " + why +
                            (log.empty() ? "" : "\n" + log);
        return false;
    };
    if (access(kPython, X_OK) != 0) return fail(std::string(kPython) + " is missing");

    char logTemplate[] = "/tmp/gst_rtsp_peer_XXXXXX";
    const int logFd = mkostemp(logTemplate, O_CLOEXEC);
    if (logFd < 0) return fail(std::string("no log file: ") + strerror(errno));
    logPath_ = logTemplate;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(logFd);
        return fail(std::string("no pipe: ") + strerror(errno));
    }

    // Everything the child needs is prepared before fork: between fork and
    // exec only async-signal-safe calls are allowed in a threaded process.
    std::vector<std::string> args = {
        kPython, OMBRELIX_GST_RTSP_SERVER, "--port", "0", "--log",
        "--codec", options_.codec, "--auth", options_.auth,
        "--user", options_.user, "--password", options_.password,
        "--width", std::to_string(options_.width), "--height", std::to_string(options_.height),
        "--fps", std::to_string(options_.fps), "--lifetime", std::to_string(options_.lifetimeSeconds),
        "--session-timeout", std::to_string(options_.sessionTimeoutSeconds),
        "--end-sessions-after", std::to_string(options_.endSessionsAfterSeconds),
        "--close-clients-after", std::to_string(options_.closeClientsAfterSeconds)};
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t parent = getpid();

    pid_ = fork();
    if (pid_ == 0) {
        // A group of its own, so that GStreamer's helpers go with it; and
        // gone with this test program even when it is killed.
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(126);
        const int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(logFd, STDERR_FILENO);
        execv(kPython, argv.data());
        const char text[] = "exec of /usr/bin/python3 failed\n";
        (void)!write(STDERR_FILENO, text, sizeof(text) - 1);
        _exit(127);
    }
    close(out[1]);
    close(logFd);
    if (pid_ < 0) {
        close(out[0]);
        return fail(std::string("fork failed: ") + strerror(errno));
    }
    setpgid(pid_, pid_);  // also here, so that Stop never races the child's own call
    stdout_ = out[0];

    // The server prints its port once it listens.
    std::string line;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kListenTimeoutMs);
    while (line.find('\n') == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
        if (left <= 0) return fail("did not listen within " + std::to_string(kListenTimeoutMs) + " ms");
        pollfd p{stdout_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        char buffer[64];
        const ssize_t n = read(stdout_, buffer, sizeof(buffer));
        if (n <= 0) {
            int status = 0;
            if (!Ended(5000, &status)) return fail("closed its output before it listened");
            return fail(ExitText(status) + " before it listened");
        }
        line.append(buffer, static_cast<size_t>(n));
    }
    const long port = std::strtol(line.c_str(), nullptr, 10);
    if (port <= 0 || port > 65535) return fail("printed no port but \"" + line + "\"");
    port_ = static_cast<uint16_t>(port);
    return true;
}

std::string GstRtspPeer::Log() const {
    if (logPath_.empty()) return std::string();
    std::ifstream in(logPath_);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool GstRtspPeer::Ended(int timeoutMs, int* status) {
    // The child is reaped only after its group was killed: until then its
    // pid, which names the group, cannot be taken by another process.
    siginfo_t info{};
    for (int waited = 0;; waited += 10) {
        info.si_pid = 0;
        if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return false;
        if (info.si_pid == pid_) break;
        if (waited >= timeoutMs) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(-pid_, SIGKILL);
    waitpid(pid_, status, 0);
    pid_ = -1;
    return true;
}

void GstRtspPeer::Stop() {
    if (stdout_ >= 0) close(stdout_);
    stdout_ = -1;
    if (pid_ <= 0) return;
    // SIGTERM lets the server end its sessions; the group goes by force
    // when it has not ended after 3 s.
    kill(-pid_, SIGTERM);
    int status = 0;
    if (Ended(3000, &status)) return;
    kill(-pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

}  // namespace fakes
