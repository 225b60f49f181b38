#include "support/peer_process.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace fakes {

PeerProcess::~PeerProcess() {
    Stop();
    if (!logPath_.empty()) unlink(logPath_.c_str());
}

std::string PeerProcess::ExitText(int status) {
    if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return std::string("killed by signal ") + strsignal(WTERMSIG(status));
    return "ended";
}

bool PeerProcess::Spawn(const std::vector<std::string>& args, const std::vector<std::string>& environment,
                        const std::string& asUser, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    if (args.empty() || access(args[0].c_str(), X_OK) != 0) return fail((args.empty() ? "" : args[0]) + " is missing");
    bool switchUser = false;
    uid_t uid = 0;
    gid_t gid = 0;
    if (!asUser.empty() && geteuid() == 0) {
        const passwd* account = getpwnam(asUser.c_str());
        if (!account) return fail("no account " + asUser + " to run " + args[0] + " as");
        switchUser = true;
        uid = account->pw_uid;
        gid = account->pw_gid;
    }
    if (logPath_.empty()) {
        char logTemplate[] = "/tmp/peer_process_XXXXXX";
        const int fd = mkostemp(logTemplate, O_CLOEXEC);
        if (fd < 0) return fail(std::string("no log file: ") + strerror(errno));
        close(fd);
        logPath_ = logTemplate;
    }
    const int logFd = open(logPath_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (logFd < 0) return fail(std::string("no log file: ") + strerror(errno));
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(logFd);
        return fail(std::string("no pipe: ") + strerror(errno));
    }

    // Everything the child needs is prepared before fork: between fork and
    // exec only async-signal-safe calls are allowed in a threaded process.
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    const pid_t parent = getpid();

    pid_ = fork();
    if (pid_ == 0) {
        setpgid(0, 0);
        // A peer stands for a camera, a machine of its own: where it may, it
        // runs ahead of the tests and builds beside it, so that a starved
        // peer is not taken for a driver that loses video.
        setpriority(PRIO_PROCESS, 0, -10);
        if (switchUser && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)) _exit(125);
        // After the change of user: a change of credentials clears it.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(126);
        const int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(logFd, STDERR_FILENO);
        if (environment.empty()) {
            execv(argv[0], argv.data());
        } else {
            execve(argv[0], argv.data(), envp.data());
        }
        const char text[] = "exec failed\n";
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
    return true;
}

std::string PeerProcess::Log() const {
    if (logPath_.empty()) return std::string();
    std::ifstream in(logPath_);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool PeerProcess::Ended(int timeoutMs, int* status) {
    // The child is reaped only after its group was killed: until then its
    // pid, which names the group, cannot be taken by another process.
    if (pid_ <= 0) return false;
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

void PeerProcess::Stop() {
    if (stdout_ >= 0) close(stdout_);
    stdout_ = -1;
    if (pid_ <= 0) return;
    // SIGTERM lets the peer end its sessions; the group goes by force when
    // it has not ended after 3 s.
    kill(-pid_, SIGTERM);
    int status = 0;
    if (Ended(3000, &status)) return;
    kill(-pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

}  // namespace fakes
