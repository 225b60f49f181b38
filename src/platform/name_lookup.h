// Name lookup with a bound. The system's resolver (getaddrinfo) may take as
// long as its own configuration says, or never return; a caller that has a
// time-out of its own must not inherit that. The lookup runs on a thread of
// its own, and the caller waits for it only as long as it may.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace telvaro {
namespace platform {

// ResolveIpv4 of host, waiting at most timeoutMs and no longer than until
// *abort is set (when given). A dotted address is read at once. A lookup
// that outlasts the wait is left to finish on its own thread and its answer
// is dropped; callers of the same host meanwhile wait on that one lookup
// instead of starting another, and beyond a few hosts unanswered at once a
// new host fails at once. 0 when there is no answer in time.
uint32_t ResolveIpv4Within(const std::string& host, uint32_t timeoutMs, const std::atomic<bool>* abort = nullptr);

}  // namespace platform
}  // namespace telvaro
