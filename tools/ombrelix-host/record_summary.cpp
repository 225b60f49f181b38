#include "record_summary.h"

#include <algorithm>
#include <cstdio>

#include <nlohmann/json.hpp>

namespace host {

namespace {

using Seconds = std::chrono::duration<double>;

struct ChannelSummary {
    StreamStats stats;
    double recorded = 0;  // first to last frame
    double rate = 0;      // frames per second from the first frame to the end
    double kbits = 0;
    double firstAfter = 0;
    double longestGap = 0;  // silence at the end included
    std::vector<std::string> problems;
};

ChannelSummary Sum(const RecordOptions& options, const ChannelRun& run, std::chrono::steady_clock::time_point start,
                   std::chrono::steady_clock::time_point end, const std::string& lastCause) {
    const std::string because = lastCause.empty() ? std::string() : " (the driver says: " + lastCause + ")";
    ChannelSummary c;
    c.stats = run.sink->Stats();
    const StreamStats& s = c.stats;
    const double askedRate = 1000.0 / std::max<uint16_t>(options.interval, 1);
    if (s.frames == 0) {
        c.longestGap = Seconds(end - start).count();
        c.problems.push_back("no frame arrived" + because);
    } else {
        c.recorded = Seconds(s.last - s.first).count();
        const double span = Seconds(end - s.first).count();
        // Rates count from the first frame: connecting (a UDP port probe
        // alone takes 2 s) is shown apart.
        c.rate = span > 0 ? s.frames / span : 0;
        c.kbits = span > 0 ? s.bytes * 8 / 1000.0 / span : 0;
        c.firstAfter = Seconds(s.first - run.startCall).count();
        c.longestGap = std::max(Seconds(s.longestGap).count(), Seconds(end - s.last).count());
        char text[160];
        if (c.rate < askedRate * options.minRatePercent / 100) {
            std::snprintf(text, sizeof text, "%.1f fps is under %.0f%% of the asked %.1f fps", c.rate,
                          options.minRatePercent, askedRate);
            c.problems.push_back(text);
        }
    }
    if (s.signalLost > 0) {
        c.problems.push_back("signal lost " + std::to_string(s.signalLost) + " times" + (s.frames ? because : ""));
    }
    if (!run.fileError.empty()) c.problems.push_back("file not written: " + run.fileError);
    return c;
}

}  // namespace

int Summarize(const RecordOptions& options, const std::vector<ChannelRun>& runs,
              std::chrono::steady_clock::time_point start, std::chrono::steady_clock::time_point end,
              int outstandingSamples, const std::string& lastCause) {
    int status = outstandingSamples != 0 ? 1 : 0;
    const double seconds = Seconds(end - start).count();
    nlohmann::json channels = nlohmann::json::array();
    if (!options.json) {
        std::printf("summary after %.1f s (%s, %s:%u, %s):\n", seconds, options.codec.c_str(), options.address.c_str(),
                    options.port, options.transport.c_str());
    }
    for (uint32_t i = 0; i < runs.size(); ++i) {
        const ChannelSummary c = Sum(options, runs[i], start, end, lastCause);
        const StreamStats& s = c.stats;
        if (!c.problems.empty()) status = 1;
        std::string verdict;
        for (const std::string& problem : c.problems) verdict += (verdict.empty() ? "" : "; ") + problem;
        const std::string file = runs[i].file.empty() ? "none" : runs[i].file;
        if (options.json) {
            channels.push_back({{"channel", i},
                                {"frames", s.frames},
                                {"keyFrames", s.keyFrames},
                                {"bytes", s.bytes},
                                {"seconds", c.recorded},
                                {"rate", c.rate},
                                {"kbits", c.kbits},
                                {"width", s.width},
                                {"height", s.height},
                                {"fourcc", FourccText(s.fourcc)},
                                {"firstFrameAfter", c.firstAfter},
                                {"longestGap", c.longestGap},
                                {"signalLost", s.signalLost},
                                {"state", ChannelStateName(runs[i].finalState)},
                                {"transport", options.transport},
                                {"file", runs[i].file.empty() ? nlohmann::json() : nlohmann::json(runs[i].file)},
                                {"problems", c.problems}});
            continue;
        }
        std::printf("  channel %u: %llu frames (%llu key), %llu bytes, %.1f s recorded, %.1f fps, %.0f kbit/s, "
                    "%ux%u %s, first frame after %.3f s, longest gap %.2f s, signal lost %u, %s, %s, file %s: %s\n",
                    i, static_cast<unsigned long long>(s.frames), static_cast<unsigned long long>(s.keyFrames),
                    static_cast<unsigned long long>(s.bytes), c.recorded, c.rate, c.kbits, s.width, s.height,
                    FourccText(s.fourcc).c_str(), c.firstAfter, c.longestGap, s.signalLost,
                    ChannelStateName(runs[i].finalState), options.transport.c_str(), file.c_str(),
                    verdict.empty() ? "ok" : verdict.c_str());
    }
    if (options.json) {
        nlohmann::json j = {{"seconds", seconds},
                            {"codec", options.codec},
                            {"address", options.address},
                            {"port", options.port},
                            {"transport", options.transport},
                            {"askedRate", 1000.0 / std::max<uint16_t>(options.interval, 1)},
                            {"channels", channels},
                            {"samplesNotReturned", outstandingSamples}};
        std::printf("%s\n", j.dump(2).c_str());
    } else if (outstandingSamples != 0) {
        std::printf("  %d samples were never given back to the host\n", outstandingSamples);
    }
    return status;
}

}  // namespace host
