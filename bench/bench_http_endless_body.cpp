// Peak resident memory of a process whose PSIA GET meets a camera that
// never ends its answer: a body without length (read until close) and a
// chunked body, each streamed at loopback speed until the client gives up.
// Each case runs in a child process of its own, so that one peak does not
// hide the next.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/device_info.h"
#include "psia/http_sender.h"

namespace {

// VmHWM of this process, in KiB.
long PeakResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 6, "VmHWM:") == 0) return std::stol(line.substr(6));
    }
    return -1;
}

bool SendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Answers every connection's first request with an endless body.
void Serve(int listener, bool chunked, std::atomic<uint64_t>& sent) {
    for (;;) {
        int fd = accept(listener, nullptr, nullptr);
        if (fd < 0) return;
        std::string head;
        char buffer[4096];
        while (head.find("\r\n\r\n") == std::string::npos) {
            ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
            if (n <= 0) break;
            head.append(buffer, static_cast<size_t>(n));
        }
        std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: application/xml\r\n";
        answer += chunked ? "Transfer-Encoding: chunked\r\n\r\n" : "Connection: close\r\n\r\n";
        std::string block(64 * 1024, 'x');
        if (chunked) block = "10000\r\n" + block + "\r\n";
        bool ok = SendAll(fd, answer.data(), answer.size());
        while (ok) {
            ok = SendAll(fd, block.data(), block.size());
            if (ok) sent += block.size();
        }
        close(fd);
    }
}

int RunCase(bool chunked) {
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener, 4) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::printf("cannot listen\n");
        return 1;
    }
    std::atomic<uint64_t> sent{0};
    std::thread server(Serve, listener, chunked, std::ref(sent));

    telvaro::DEVICE_INFO device;
    device.address = "127.0.0.1";
    device.port = ntohs(address.sin_port);
    device.timeout = 5000;
    {
        // The HTTP library's own start-up (a refused connection) is not the
        // body's cost.
        telvaro::DEVICE_INFO refused = device;
        refused.port = 1;
        Web::CHttpSender sender(refused);
        std::vector<uint8_t> body;
        Web::HttpGet(sender, "/", body);
    }
    const long before = PeakResidentKiB();
    auto start = std::chrono::steady_clock::now();
    bool ok = false;
    size_t received = 0;
    {
        Web::CHttpSender sender(device);
        std::vector<uint8_t> body;
        ok = Web::HttpGet(sender, "/PSIA/System/deviceInfo", body);
        received = body.size();
    }
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    const long after = PeakResidentKiB();
    std::printf("%-26s GET %s, %zu body bytes kept, %llu bytes sent by the camera, %lld ms; "
                "peak resident %ld KiB before, %ld KiB after (+%ld KiB)\n",
                chunked ? "endless chunked body:" : "endless body until close:", ok ? "succeeded" : "failed", received,
                static_cast<unsigned long long>(sent.load()), static_cast<long long>(ms), before, after,
                after - before);
    std::fflush(stdout);
    shutdown(listener, SHUT_RDWR);
    close(listener);
    server.join();
    return 0;
}

}  // namespace

int main() {
    for (bool chunked : {false, true}) {
        pid_t child = fork();
        if (child == 0) _exit(RunCase(chunked));
        int status = 0;
        if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::printf("case failed\n");
            return 1;
        }
    }
    return 0;
}
