// A peer program this project did not write, run as a child process: in a
// process group of its own (its helpers go with it), gone with the test
// program even when that is killed, its stderr in a log file and its stdout
// on a pipe. Stopped with its whole group when the object goes.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace fakes {

class PeerProcess {
public:
    PeerProcess() = default;
    ~PeerProcess();
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    // Runs args[0] with args and, when environment is not empty, only that
    // environment. asUser names an account to run it as when this program
    // runs as root (some peers refuse root); empty: as this program runs.
    // False with the reason.
    bool Spawn(const std::vector<std::string>& args, const std::vector<std::string>& environment,
               const std::string& asUser, std::string* error);
    int Stdout() const { return stdout_; }
    bool Running() const { return pid_ > 0; }
    // What the child wrote on stderr so far.
    std::string Log() const;
    // True once the child has ended (within timeoutMs), with its group
    // killed, the child reaped and its status in *status.
    bool Ended(int timeoutMs, int* status);
    // SIGTERM to the group, SIGKILL after 3 s.
    void Stop();

    static std::string ExitText(int status);

private:
    pid_t pid_ = -1;
    int stdout_ = -1;
    std::string logPath_;
};

}  // namespace fakes
