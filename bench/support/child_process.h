// A child process for the benches that run the real programs: standard
// output on a pipe (or thrown away), standard error in a file, its CPU time
// and footprint read from the system.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace bench {

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A child process with its standard output on a pipe (or thrown away) and
// its standard error in a file.
class Child {
public:
    Child() = default;
    ~Child() { Kill(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool Start(const std::vector<std::string>& args, const std::string& errorFile, bool captureOutput) {
        int fds[2] = {-1, -1};
        if (captureOutput && pipe2(fds, O_CLOEXEC) != 0) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        if (captureOutput) {
            posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        } else {
            posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        }
        posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        // Whatever the bench inherited, the children stop on the signals
        // it sends them.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGINT);
        sigaddset(&defaults, SIGTERM);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
        int rc = posix_spawnp(&pid_, argv[0], &actions, &attributes, argv.data(), environ);
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        if (captureOutput) {
            close(fds[1]);
            output_ = fds[0];
            fcntl(output_, F_SETFL, fcntl(output_, F_GETFL) | O_NONBLOCK);
        }
        if (rc != 0) {
            pid_ = -1;
            return false;
        }
        errorFile_ = errorFile;
        return true;
    }

    pid_t Pid() const { return pid_; }
    int Output() const { return output_; }
    const std::string& ErrorFile() const { return errorFile_; }

    // Reads what is there; false once the pipe is closed.
    bool Read(std::string& into, uint64_t* count = nullptr) {
        char buffer[65536];
        for (;;) {
            ssize_t n = read(output_, buffer, sizeof buffer);
            if (n > 0) {
                if (count) {
                    *count += static_cast<uint64_t>(n);
                } else {
                    into.append(buffer, static_cast<size_t>(n));
                }
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
            return false;
        }
    }

    // Lines complete so far, taken out of the text read.
    static std::vector<std::string> TakeLines(std::string& text) {
        std::vector<std::string> lines;
        size_t pos;
        while ((pos = text.find('\n')) != std::string::npos) {
            lines.push_back(text.substr(0, pos));
            text.erase(0, pos + 1);
        }
        return lines;
    }

    // CPU time of the whole process so far (every thread, the ended ones too).
    double CpuSeconds() const {
        clockid_t clock;
        timespec t{};
        if (pid_ <= 0 || clock_getcpuclockid(pid_, &clock) != 0 || clock_gettime(clock, &t) != 0) return -1;
        return t.tv_sec + t.tv_nsec / 1e9;
    }

    // VmRSS in kB and the thread count, from /proc.
    void Footprint(uint64_t& rssKb, unsigned& threads) const {
        std::istringstream status(ReadAll("/proc/" + std::to_string(pid_) + "/status"));
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("VmRSS:", 0) == 0) rssKb = std::strtoull(line.c_str() + 6, nullptr, 10);
            if (line.rfind("Threads:", 0) == 0) threads = static_cast<unsigned>(std::strtoul(line.c_str() + 8, nullptr, 10));
        }
    }

    void Signal(int sig) {
        if (pid_ > 0) kill(pid_, sig);
    }

    // Waits up to timeoutMs for the end; the exit status, or -1.
    int Wait(int timeoutMs) {
        if (pid_ <= 0) return -1;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            int status = 0;
            pid_t r = waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            if (std::chrono::steady_clock::now() >= end) return -1;
            usleep(20000);
        }
    }

    void Kill() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        if (output_ >= 0) close(output_);
        output_ = -1;
    }

private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string errorFile_;
};

// Reads the child's output until ready(text) holds, for up to 20 s; false
// when the output closes first or the time is up.
template <typename Ready>
bool WaitForOutput(Child& child, Ready ready) {
    std::string text;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{child.Output(), POLLIN, 0};
        poll(&p, 1, 100);
        if (!child.Read(text)) return false;
        if (ready(text)) return true;
    }
    return false;
}

// camsim's start-up lines, once complete: its HTTP and RTSP ports.
inline bool CamsimListens(const std::string& text, uint16_t& httpPort, uint16_t& rtspPort) {
    const size_t http = text.find("http://127.0.0.1:");
    const size_t rtsp = text.find("rtsp://127.0.0.1:");
    if (text.find("Press Ctrl-C") == std::string::npos || http == std::string::npos || rtsp == std::string::npos)
        return false;
    httpPort = static_cast<uint16_t>(std::atoi(text.c_str() + http + 17));
    rtspPort = static_cast<uint16_t>(std::atoi(text.c_str() + rtsp + 17));
    return true;
}

}  // namespace bench
