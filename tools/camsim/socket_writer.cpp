#include "camsim/socket_writer.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>

namespace camsim {

SocketWriter::SocketWriter(int fd) : fd_(fd) {
    timeval tv{2, 0};
    setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

SocketWriter::~SocketWriter() { close(fd_); }

bool SocketWriter::Send(const void* data, size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    return SendLocked(static_cast<const uint8_t*>(data), size);
}

bool SocketWriter::SendInterleaved(uint8_t channel, const std::vector<uint8_t>& packet) {
    if (packet.size() > 0xFFFF) return false;
    std::vector<uint8_t> frame;
    frame.reserve(packet.size() + 4);
    frame.push_back('$');
    frame.push_back(channel);
    frame.push_back(static_cast<uint8_t>(packet.size() >> 8));
    frame.push_back(static_cast<uint8_t>(packet.size()));
    frame.insert(frame.end(), packet.begin(), packet.end());
    std::lock_guard<std::mutex> lock(mutex_);
    return SendLocked(frame.data(), frame.size());
}

bool SocketWriter::SendLocked(const uint8_t* data, size_t size) {
    if (shutDown_) return false;
    while (size > 0) {
        ssize_t n = send(fd_, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            Shutdown();
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void SocketWriter::Shutdown() {
    if (!shutDown_.exchange(true)) shutdown(fd_, SHUT_RDWR);
}

}  // namespace camsim
