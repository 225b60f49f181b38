#include "platform/native_thread_start.h"

#include <atomic>

#include "platform/native_thread.h"

namespace telvaro {
namespace platform {

namespace {

std::atomic<uint32_t> g_nextThreadId{1};
thread_local uint32_t t_threadId = 0;

}  // namespace

ThreadStart::ThreadStart(std::function<void()> b, const std::string& n, bool above)
    : id(g_nextThreadId.fetch_add(1)), aboveNormal(above), name(n), body(std::move(b)) {}

void AdoptThreadId(uint32_t id) { t_threadId = id; }

uint32_t CurrentThreadId() {
    if (t_threadId == 0) t_threadId = g_nextThreadId.fetch_add(1);
    return t_threadId;
}

}  // namespace platform
}  // namespace telvaro
