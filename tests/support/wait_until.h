// Polls a condition that another thread makes true.
#pragma once

#include <chrono>
#include <thread>

namespace fakes {

// True as soon as pred() holds; false when it still does not after timeoutMs.
template <typename Pred>
bool WaitUntil(Pred pred, int timeoutMs = 2000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace fakes
