// camsim: a PSIA camera on this machine, for recorders and drivers to talk to.
#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <iostream>

#include "camsim/camera.h"
#include "camsim/clip_library.h"

namespace {

bool ParseSchemes(const std::string& text, std::vector<camsim::AuthScheme>& schemes) {
    schemes.clear();
    if (text == "none") return true;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find(',', pos);
        std::string item = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        if (item == "basic") {
            schemes.push_back(camsim::AuthScheme::Basic);
        } else if (item == "digest") {
            schemes.push_back(camsim::AuthScheme::Digest);
        } else {
            return false;
        }
        if (end == std::string::npos) break;
        pos = end + 1;
    }
    return !schemes.empty();
}

// What the command line sets beyond the camera's own configuration.
struct Options {
    camsim::CameraConfig config;
    std::string auth = "digest,basic";
    std::string rtspAuth;
    unsigned channels = 1;
    std::string codecs = "H.264";
    std::string resolution = "640x480";
    unsigned fps = 25;
    unsigned toggleMs = 0;
    bool noSdpParameterSets = false;
    bool noInBandParameterSets = false;
    int jpegQ = 255;
    unsigned loss = 0;
    unsigned delay = 0;
    bool verbose = false;
    std::string clip;
    unsigned bitRate = 0;
    uint64_t frameLimit = 0;

    const std::string& RtspAuth() const { return rtspAuth.empty() ? auth : rtspAuth; }
};

void AddOptions(CLI::App& app, Options& o) {
    camsim::CameraConfig& config = o.config;
    app.add_option("--address", config.address, "IPv4 address to listen on")->capture_default_str();
    app.add_option("--http-port", config.httpPort, "PSIA HTTP port (0: any free port)")->capture_default_str();
    app.add_option("--rtsp-port", config.rtspPort, "RTSP port (0: any free port)")->capture_default_str();
    app.add_option("--user", config.user, "user name")->capture_default_str();
    app.add_option("--password", config.password, "password")->capture_default_str();
    app.add_option("--auth", o.auth, "schemes offered, in order: none, basic, digest, digest,basic, basic,digest")
        ->capture_default_str();
    app.add_option("--rtsp-auth", o.rtspAuth, "schemes offered by RTSP (default: as --auth)");
    app.add_option("--channels", o.channels, "number of streaming channels (ids 1..N)")
        ->check(CLI::Range(1, 256))
        ->capture_default_str();
    app.add_option("--codec", o.codecs, "codec per channel, comma-separated and repeated: H.264, MPEG4, MJPEG")
        ->capture_default_str();
    app.add_option("--resolution", o.resolution, "configured resolution WxH of every channel")->capture_default_str();
    app.add_option("--fps", o.fps, "frame rate of every channel")->check(CLI::Range(1, 120))->capture_default_str();
    app.add_option("--inputs", config.inputs, "digital inputs")->check(CLI::Range(0, 256))->capture_default_str();
    app.add_option("--outputs", config.outputs, "digital outputs")->check(CLI::Range(0, 256))->capture_default_str();
    app.add_option("--first-io-id", config.firstIoPortId, "id of the first input and output")->capture_default_str();
    app.add_option("--toggle-inputs", o.toggleMs, "flip every input every N ms (0: never)")->capture_default_str();
    app.add_option("--clips", config.clipFolder, "clip folder (default: the project's testdata)");
    app.add_option("--session-timeout", config.sessionTimeoutSeconds, "RTSP session time-out in seconds")
        ->check(CLI::Range(1, 3600))
        ->capture_default_str();
    app.add_option("--clip", o.clip,
                   "serve this clip file on every channel (named <name>_<width>x<height>.h264|.m4v|.mjpeg)");
    app.add_option("--bitrate", o.bitRate, "pad H.264 with filler data up to this many kbit/s (0: the clip as it is)")
        ->capture_default_str();
    app.add_option("--frames", o.frameLimit, "frames each channel sends in all, then it falls silent (0: no end)")
        ->capture_default_str();
    app.add_flag("--no-sdp-parameter-sets", o.noSdpParameterSets,
                 "leave H.264 sprop-parameter-sets and MPEG-4 config out of the SDP");
    app.add_flag("--no-inband-parameter-sets", o.noInBandParameterSets,
                 "leave parameter sets and MPEG-4 configuration out of the stream");
    app.add_option("--jpeg-q", o.jpegQ, "RTP/JPEG Q: 128..255 sends tables in band, 0 uses the clip's own Q")
        ->check(CLI::Range(0, 255))
        ->capture_default_str();
    app.add_option("--loss", o.loss, "percentage of RTP packets dropped")->check(CLI::Range(0, 100));
    app.add_option("--delay", o.delay, "delay of every HTTP and RTSP reply in ms");
    app.add_flag("-v,--verbose", o.verbose, "print every request received");
}

// The channels and schemes the options describe, into o.config; the message
// for the user when they do not fit together.
bool ApplyOptions(Options& o, std::string& error) {
    camsim::CameraConfig& config = o.config;
    if (!ParseSchemes(o.auth, config.httpAuth) || !ParseSchemes(o.RtspAuth(), config.rtspAuth)) {
        error = "--auth takes none, basic, digest or a comma-separated order of them";
        return false;
    }
    unsigned width = 0, height = 0;
    if (std::sscanf(o.resolution.c_str(), "%ux%u", &width, &height) != 2 || width == 0 || height == 0) {
        error = "--resolution takes WIDTHxHEIGHT";
        return false;
    }
    camsim::Codec clipCodec = camsim::Codec::H264;
    if (!o.clip.empty()) {
        const size_t slash = o.clip.rfind('/');
        config.clipFolder = slash == std::string::npos ? "." : o.clip.substr(0, slash);
        o.clip.erase(0, slash == std::string::npos ? 0 : slash + 1);
        if (!camsim::ClipFileInfo(o.clip, clipCodec, width, height)) {
            error = "--clip takes a file named <name>_<width>x<height>.h264|.m4v|.mjpeg";
            return false;
        }
    }
    std::vector<camsim::Codec> codecList;
    for (size_t pos = 0; pos <= o.codecs.size();) {
        size_t end = o.codecs.find(',', pos);
        camsim::Codec codec;
        if (!camsim::ParseCodecName(o.codecs.substr(pos, end == std::string::npos ? std::string::npos : end - pos),
                                    codec)) {
            error = "unknown codec in --codec " + o.codecs;
            return false;
        }
        codecList.push_back(codec);
        if (end == std::string::npos) break;
        pos = end + 1;
    }
    config.channels.clear();
    for (unsigned i = 0; i < o.channels; ++i) {
        camsim::ChannelConfig c;
        c.id = i + 1;
        c.codec = codecList[i % codecList.size()];
        c.width = width;
        c.height = height;
        c.maxFrameRate = o.fps * 100;
        c.parameterSetsInSdp = !o.noSdpParameterSets;
        c.parameterSetsInBand = !o.noInBandParameterSets;
        c.jpegQ = o.jpegQ;
        c.paddedBitRateKbps = o.bitRate;
        c.frameLimit = o.frameLimit;
        if (!o.clip.empty()) {
            c.clipFile = o.clip;
            c.codec = clipCodec;
        }
        config.channels.push_back(c);
    }
    return true;
}

void PrintBanner(const Options& o, camsim::Camera& camera) {
    const camsim::CameraConfig& config = o.config;
    std::cout << "camsim: PSIA camera \"" << config.model << "\" running\n";
    std::cout << "  PSIA:  " << camera.HttpUrl() << "/PSIA/System/deviceInfo\n";
    for (const camsim::ChannelConfig& c : camera.Channels()) {
        std::cout << "  RTSP:  " << camera.StreamUrl(c.id) << "  (" << c.width << "x" << c.height << ", "
                  << c.maxFrameRate / 100 << " fps)\n";
    }
    std::cout << "  user \"" << config.user << "\", password \"" << config.password << "\", HTTP auth " << o.auth
              << ", RTSP auth " << o.RtspAuth() << "\n";
    std::cout << "  I/O:   " << config.inputs << " inputs, " << config.outputs << " outputs, ids from "
              << config.firstIoPortId << "\n";
    std::cout << "Press Ctrl-C to stop." << std::endl;
}

// Until one of signals comes, printing each request as it arrives when verbose.
void ServeUntilSignalled(const sigset_t& signals, camsim::Camera& camera, bool verbose) {
    size_t shown = 0;
    timespec tick{0, 200 * 1000 * 1000};
    while (sigtimedwait(&signals, nullptr, &tick) < 0) {
        if (!verbose) continue;
        std::vector<camsim::LoggedRequest> requests = camera.Requests();
        for (; shown < requests.size(); ++shown) {
            const camsim::LoggedRequest& r = requests[shown];
            std::cout << (r.protocol == camsim::LoggedRequest::Protocol::Http ? "HTTP " : "RTSP ") << r.method << " "
                      << r.target << std::endl;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"camsim: a PSIA camera simulator serving real video over RTSP/RTP, until interrupted"};
    Options options;
    options.config.httpPort = 8080;
    options.config.rtspPort = 8554;
    AddOptions(app, options);
    CLI11_PARSE(app, argc, argv);
    std::string error;
    if (!ApplyOptions(options, error)) {
        std::cerr << "camsim: " << error << "\n";
        return 2;
    }

    // Signals are taken by sigtimedwait, never by the worker threads.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    camsim::Camera camera(options.config);
    if (!camera.Start(&error)) {
        std::cerr << "camsim: " << error << "\n";
        return 1;
    }
    camera.GetFaults().rtpLossPercent = options.loss;
    camera.GetFaults().replyDelayMs = options.delay;
    if (options.toggleMs > 0) {
        for (uint32_t i = 0; i < options.config.inputs; ++i) {
            camera.ToggleInputEvery(options.config.firstIoPortId + i, options.toggleMs);
        }
    }
    PrintBanner(options, camera);
    ServeUntilSignalled(signals, camera, options.verbose);
    std::cout << "camsim: stopping" << std::endl;
    camera.Stop();
    for (const auto& sent : camera.FramesSent())
        std::cout << "camsim: channel " << sent.first << " sent " << sent.second << " frames" << std::endl;
    return 0;
}
