// What both thread backends keep of a thread they start, and the numbers
// that CurrentThreadId hands out.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace telvaro {
namespace platform {

struct ThreadStart {
    ThreadStart(std::function<void()> body, const std::string& name, bool aboveNormal);

    uint32_t id;  // the thread's number in the process, taken now
    bool aboveNormal;
    std::string name;
    std::function<void()> body;
};

// On the new thread, before its body: makes id the number CurrentThreadId
// gives there.
void AdoptThreadId(uint32_t id);

}  // namespace platform
}  // namespace telvaro
