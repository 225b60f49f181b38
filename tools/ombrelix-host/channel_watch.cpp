#include "channel_watch.h"

#include <algorithm>
#include <cstdio>
#include <thread>

#if defined(_WIN32)
#include <io.h>
#define isatty _isatty
#define STDOUT_FILENO 1
#else
#include <unistd.h>
#endif

namespace host {

namespace {

using Clock = std::chrono::steady_clock;

void PrintStatus(IIPVideoCapture& capture, std::vector<ChannelRun>& runs, const RecordOptions& options,
                 double elapsed, bool terminal) {
    uint64_t frames = 0, bytes = 0;
    uint32_t streaming = 0;
    for (uint32_t i = 0; i < runs.size(); ++i) {
        StreamStats s = runs[i].sink->Stats();
        frames += s.frames;
        bytes += s.bytes;
        if (s.frames > 0) ++streaming;
        uint32_t state = 2, code = 0;
        capture.GetChannelStatus(i, &state, &code, nullptr, 0);
        if (terminal) {
            const int whole = static_cast<int>(elapsed);
            std::printf("%02d:%02d channel %u: %-9s %3llu fps, %6.0f kbit/s, %ux%u %s, %s\n", whole / 60, whole % 60,
                        i, ChannelStateName(state), static_cast<unsigned long long>(s.frames - runs[i].last.frames),
                        (s.bytes - runs[i].last.bytes) * 8 / 1000.0, s.width, s.height, FourccText(s.fourcc).c_str(),
                        options.transport.c_str());
        }
        runs[i].last = s;
    }
    if (options.progress) {
        std::printf("progress %.3f %u %llu %llu\n", elapsed, streaming, static_cast<unsigned long long>(frames),
                    static_cast<unsigned long long>(bytes));
    }
    if (terminal || options.progress) std::fflush(stdout);
}

}  // namespace

const char* ChannelStateName(uint32_t state) {
    switch (state) {
        case 0:
            return "streaming";
        case 2:
            return "no signal";
        default:
            return "unknown";
    }
}

void WatchChannels(IIPVideoCapture& capture, std::vector<ChannelRun>& runs, const RecordOptions& options,
                   Clock::time_point start, Clock::time_point end) {
    const bool terminal = isatty(STDOUT_FILENO) != 0 && !options.json;
    auto nextLine = start + std::chrono::seconds(1);
    while (!StopRequested()) {
        const auto now = Clock::now();
        if (now >= end) break;
        if (now < nextLine) {
            // Asleep until the next line or the end; a stop request is seen
            // within 200 ms. The host's own wake-ups count in the CPU time of
            // the process that carries the driver.
            std::this_thread::sleep_for(
                std::min({nextLine - now, end - now, Clock::duration(std::chrono::milliseconds(200))}));
            continue;
        }
        nextLine += std::chrono::seconds(1);
        PrintStatus(capture, runs, options, std::chrono::duration<double>(now - start).count(), terminal);
    }
}

void StopChannels(IIPVideoCapture& capture, std::vector<ChannelRun>& runs) {
    for (uint32_t i = 0; i < runs.size(); ++i) {
        uint32_t code = 0;
        capture.GetChannelStatus(i, &runs[i].finalState, &code, nullptr, 0);
    }
    StopAllChannels(capture, static_cast<uint32_t>(runs.size()));
}

void StopAllChannels(IIPVideoCapture& capture, uint32_t count) {
    std::vector<std::thread> stops;
    for (uint32_t i = 0; i < count; ++i) stops.emplace_back([&capture, i] { capture.StopChannel(i); });
    for (std::thread& stop : stops) stop.join();
}

}  // namespace host
