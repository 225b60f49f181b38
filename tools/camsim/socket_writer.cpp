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
    return SendInterleaved(channel, std::vector<const std::vector<uint8_t>*>{&packet});
}

bool SocketWriter::SendInterleaved(uint8_t channel, const std::vector<const std::vector<uint8_t>*>& packets) {
    size_t total = 0;
    for (const std::vector<uint8_t>* packet : packets) {
        if (packet->size() > 0xFFFF) return false;
        total += packet->size() + 4;
    }
    std::vector<uint8_t> frames;
    frames.reserve(total);
    for (const std::vector<uint8_t>* packet : packets) {
        frames.push_back('$');
        frames.push_back(channel);
        frames.push_back(static_cast<uint8_t>(packet->size() >> 8));
        frames.push_back(static_cast<uint8_t>(packet->size()));
        frames.insert(frames.end(), packet->begin(), packet->end());
    }
    std::lock_guard<std::mutex> lock(mutex_);
    return SendLocked(frames.data(), frames.size());
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
