// Aborting an exchange with a camera from another thread, as a stopping
// owner does, and timing how soon the exchange gives up.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

namespace fakes {

struct AbortOutcome {
    bool result = true;           // what the exchange returned
    bool runningAtAbort = false;  // it had not ended when the flag was set
    int64_t msAfterAbort = -1;    // from setting the flag to the exchange's return
};

// Runs exchange on a thread of its own. Once waiting() holds (the camera has
// the request; at most 5 s) and settleMs more have passed, sets flag and
// waits for the exchange to return.
AbortOutcome RunAndAbort(const std::function<bool()>& exchange, std::atomic<bool>& flag,
                         const std::function<bool()>& waiting, int settleMs = 300);

}  // namespace fakes
