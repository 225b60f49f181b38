// Video end to end: the library loaded through its exports, as a recorder
// host does, recording from the simulated camera in every transport mode.
#include <gtest/gtest.h>

#include <dirent.h>
#include <limits.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "camsim/camera.h"
#include "ombrelix/exports.h"
#include "support/fake_host.h"
#include "hostkit/driver_library.h"
#include "platform/socket.h"
#include "support/video_decoder.h"
#include "support/wait_until.h"

namespace {

using namespace ombrelix_abi;
using telvaro::ipcapture::IIPCaptureDriverEx3;

std::string ConfigurationFile() {
    char path[PATH_MAX + 1] = {0};
    ssize_t n = readlink("/proc/self/exe", path, PATH_MAX);
    std::string exe(path, n > 0 ? static_cast<size_t>(n) : 0);
    return exe.substr(0, exe.rfind('/') + 1) + "Ombrelix.xml";
}

// Writes the transport mode of every channel of the camera at port.
void WriteMode(uint16_t port, const char* mode) {
    std::ofstream out(ConfigurationFile(), std::ios::trunc);
    out << "<?xml version=\"1.0\"?><Configuration><Device address=\"127.0.0.1\" port=\"" << port
        << "\"><VideoChannel><RTPMode>" << mode << "</RTPMode></VideoChannel></Device></Configuration>";
}

size_t CountEntries(const char* dir) {
    size_t n = 0;
    if (DIR* d = opendir(dir)) {
        while (readdir(d)) ++n;
        closedir(d);
    }
    return n;
}

// One recorder host: the library, one opened device and a sink per channel.
class Host {
public:
    Host() : library_(OMBRELIX_LIBRARY_PATH) {}
    ~Host() { Close(); }
    bool Open(const camsim::Camera& camera, int32_t codec, uint32_t channels) {
        if (!library_.Loaded()) return false;
        device.connection.address = "127.0.0.1";
        device.connection.port = camera.HttpPort();
        device.connection.user = camera.Config().user;
        device.connection.password = camera.Config().password;
        device.connection.codec = codec;
        device.model.channels = channels;
        const auto cameraChannels = camera.Channels();
        for (uint32_t i = 0; i < channels && i < cameraChannels.size(); ++i) {
            device.parameters[static_cast<int32_t>(i + 2)] =
                std::to_string(cameraChannels[i].id) + ";" + std::to_string(camera.RtspPort()) + ";VBR;64;8192;20,40,60,80,100";
        }
        for (uint32_t i = 0; i < channels; ++i) sinks.emplace_back(new fakes::FakeStreamSink());
        driver_ = library_.Get<CreateIPCaptureEx3Fn>("CreateIPCaptureEx3")();
        return driver_ && driver_->Open(&debug, &allocator, &device);
    }
    telvaro::ipcapture::IIPVideoCapture* Capture() { return driver_ ? driver_->GetVideoCapture() : nullptr; }
    telvaro::ICaptureIOApi* IO() { return driver_ ? driver_->GetCaptureIO() : nullptr; }
    uint32_t State(uint32_t channel) {
        uint32_t state = 99, error = 0;
        Capture()->GetChannelStatus(channel, &state, &error, nullptr, 0);
        return state;
    }
    void Close() {
        if (!driver_) return;
        driver_->Close();
        library_.Get<DeleteIPCaptureEx3Fn>("DeleteIPCaptureEx3")(driver_);
        driver_ = nullptr;
    }

    fakes::FakeDebugSink debug;
    fakes::FakeSampleAllocator allocator;
    fakes::FakeDeviceConfig device;
    std::vector<std::unique_ptr<fakes::FakeStreamSink>> sinks;

private:
    hostkit::DriverLibrary library_;
    IIPCaptureDriverEx3* driver_ = nullptr;
};

// Another program's UDP socket on a port (any local address).
class PortHolder {
public:
    explicit PortHolder(uint16_t port) : socket_(telvaro::platform::OpenUdpSocket()) {
        telvaro::platform::Ipv4Endpoint any{0, port};
        held_ = socket_ != telvaro::platform::kInvalidSocket && telvaro::platform::BindSocket(socket_, any);
    }
    ~PortHolder() { telvaro::platform::CloseSocket(socket_); }
    bool Held() const { return held_; }

private:
    telvaro::platform::SocketHandle socket_;
    bool held_ = false;
};

class ChannelEndToEnd : public ::testing::Test {
protected:
    void TearDown() override { std::remove(ConfigurationFile().c_str()); }
};

TEST_F(ChannelEndToEnd, EveryCodecInEveryTransportMode) {
    struct Codec {
        camsim::Codec camera;
        int32_t host;
        fakes::VideoDecoder::Codec decoder;
        int jpegQ;
    } codecs[] = {
        {camsim::Codec::H264, fakes::kCodecH264, fakes::VideoDecoder::Codec::H264, 255},
        {camsim::Codec::Mpeg4, fakes::kCodecMpeg4, fakes::VideoDecoder::Codec::Mpeg4, 255},
        {camsim::Codec::Mjpeg, fakes::kCodecJpeg, fakes::VideoDecoder::Codec::Jpeg, 0},
    };
    struct Mode {
        const char* name;
        const char* transport;  // what the SETUP asks for
    } modes[] = {{"RTPoverUDP", "RTP/AVP;unicast;client_port="},
                 {"RTPoverTCP", "RTP/AVP/TCP;unicast;interleaved=0-1"},
                 {"RTPoverRTSP", "RTP/AVP/TCP;unicast;interleaved=0-1"}};
    for (const auto& codec : codecs) {
        for (const auto& mode : modes) {
            SCOPED_TRACE(std::string(camsim::CodecName(codec.camera)) + " " + mode.name);
            camsim::CameraConfig config;
            config.channels[0].codec = codec.camera;
            config.channels[0].jpegQ = codec.jpegQ;
            camsim::Camera camera(config);
            ASSERT_TRUE(camera.Start());
            WriteMode(camera.HttpPort(), mode.name);
            Host host;
            ASSERT_TRUE(host.Open(camera, codec.host, 1));
            fakes::FakeStreamConfig settings(640, 480, 40, 50);
            ASSERT_TRUE(host.Capture()->StartChannel(0, host.sinks[0].get(), &settings));
            ASSERT_TRUE(host.sinks[0]->WaitForFrames(8, 10000));
            EXPECT_EQ(host.State(0), 0u);
            ASSERT_TRUE(host.Capture()->StopChannel(0));

            fakes::VideoDecoder decoder(codec.decoder);
            for (const auto& f : host.sinks[0]->Frames()) {
                ASSERT_TRUE(decoder.Decode(f.data)) << decoder.LastError();
                EXPECT_EQ(f.width, 640u);
                EXPECT_EQ(f.height, 480u);
            }
            decoder.Flush();
            ASSERT_FALSE(decoder.Pictures().empty());
            EXPECT_EQ(decoder.Pictures()[0].width, 640);
            EXPECT_EQ(decoder.Pictures()[0].height, 480);
            EXPECT_EQ(host.debug.CountContaining("is online"), 1u);
            EXPECT_EQ(host.debug.CountContaining("is offline. Channel was stopped"), 1u);
            bool setupSeen = false;
            for (const auto& r : camera.Requests()) {
                if (r.method != "SETUP") continue;
                setupSeen = true;
                EXPECT_NE(r.text.find(std::string("Transport: ") + mode.transport), std::string::npos) << r.text;
            }
            EXPECT_TRUE(setupSeen);
            host.Close();
            EXPECT_EQ(host.allocator.allocations.load(), host.allocator.releases.load());
            camera.Stop();
        }
    }
}

TEST_F(ChannelEndToEnd, ACameraNamingBasicBeforeDigestIsAnsweredOnlyWithDigest) {
    camsim::CameraConfig config;
    config.httpAuth = config.rtspAuth = {camsim::AuthScheme::Basic, camsim::AuthScheme::Digest};
    camsim::Camera camera(config);
    ASSERT_TRUE(camera.Start());
    WriteMode(camera.HttpPort(), "RTPoverRTSP");
    Host host;
    ASSERT_TRUE(host.Open(camera, fakes::kCodecH264, 1));
    fakes::FakeStreamConfig settings(640, 480, 40, 50);
    ASSERT_TRUE(host.Capture()->StartChannel(0, host.sinks[0].get(), &settings));
    ASSERT_TRUE(host.sinks[0]->WaitForFrames(3, 10000));
    host.Capture()->StopChannel(0);
    // Camsim takes Basic too: only the driver's choice keeps the password off
    // the wire, on the PSIA side and the RTSP side alike.
    size_t signedHttp = 0, signedRtsp = 0;
    for (const auto& r : camera.Requests()) {
        std::vector<std::string> credentials;
        for (const auto& h : r.headers)
            if (h.first == "Authorization" || h.first == "authorization") credentials.push_back(h.second);
        for (size_t at = r.text.find("\r\nAuthorization: "); at != std::string::npos;
             at = r.text.find("\r\nAuthorization: ", at + 1)) {
            credentials.push_back(r.text.substr(at + 17, r.text.find('\r', at + 2) - at - 17));
        }
        for (const std::string& c : credentials) {
            EXPECT_EQ(c.rfind("Digest ", 0), 0u) << r.method << " " << c;
            ++(r.protocol == camsim::LoggedRequest::Protocol::Http ? signedHttp : signedRtsp);
        }
    }
    EXPECT_GE(signedHttp, 1u);
    EXPECT_GE(signedRtsp, 3u);
}

TEST_F(ChannelEndToEnd, CredentialsWithALineBreakOrNulNeverReachTheCamera) {
    const struct {
        std::string user, password;
        const char* field;
    } cases[] = {
        {"admin\r\nX-Injected: 1", "admin", "the user name contains a line break or NUL"},
        {"admin", "admin\nX-Injected: 1", "the password contains a line break or NUL"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        camsim::CameraConfig config;
        config.inputs = 1;
        config.user = c.user;
        config.password = c.password;
        camsim::Camera camera(config);
        ASSERT_TRUE(camera.Start());
        WriteMode(camera.HttpPort(), "RTPoverRTSP");
        Host host;
        host.device.model.inputs = 1;
        ASSERT_TRUE(host.Open(camera, fakes::kCodecH264, 1));
        fakes::FakeIOEventSink io;
        telvaro::ICaptureIOApi* inputs = host.IO();
        ASSERT_NE(inputs, nullptr);
        ASSERT_TRUE(inputs->SetEventSink(&io));
        inputs->Start();
        fakes::FakeStreamConfig settings;
        ASSERT_TRUE(host.Capture()->StartChannel(0, host.sinks[0].get(), &settings));
        // Two connection attempts and the first input poll.
        ASSERT_TRUE(host.debug.WaitForText("telvaro::CBaseRTPChannel::Connect", 5000));
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        host.Capture()->StopChannel(0);
        inputs->Stop();
        EXPECT_TRUE(camera.Requests().empty());
        EXPECT_GE(io.Failures(), 1);
        size_t naming = 0;
        for (const auto& r : host.debug.Records()) {
            EXPECT_EQ(r.text.find("X-Injected"), std::string::npos) << r.text;
            if (r.text.find(c.field) != std::string::npos) ++naming;
        }
        // Once when the device opens, once from the channel, once from the
        // input poll.
        EXPECT_EQ(naming, 3u);
        camera.Stop();
    }
}

TEST_F(ChannelEndToEnd, PortsInUseMoveTheSearchToTheNextPair) {
    // Unit tests running alongside use the same ports for a moment: wait for
    // them to let go rather than skip.
    std::unique_ptr<PortHolder> rtpHolder, rtcpHolder;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
        rtpHolder = std::make_unique<PortHolder>(3556);
        rtcpHolder = std::make_unique<PortHolder>(3557);
        if (rtpHolder->Held() && rtcpHolder->Held()) break;
        rtpHolder.reset();
        rtcpHolder.reset();
        if (std::chrono::steady_clock::now() > giveUp) GTEST_SKIP() << "ports 3556/3557 are taken by another program";
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    camsim::Camera camera;
    ASSERT_TRUE(camera.Start());
    Host host;
    ASSERT_TRUE(host.Open(camera, fakes::kCodecH264, 1));
    fakes::FakeStreamConfig settings;
    ASSERT_TRUE(host.Capture()->StartChannel(0, host.sinks[0].get(), &settings));
    ASSERT_TRUE(host.sinks[0]->WaitForFrames(3, 10000));
    host.Capture()->StopChannel(0);
    std::string transport;
    for (const auto& r : camera.Requests())
        if (r.method == "SETUP") transport = r.text;
    // Other test programs may search the same range at the same time, so the
    // pair found is the first free one from 3558 on: an even port with RTCP
    // on the next.
    unsigned rtp = 0, rtcp = 0;
    size_t at = transport.find("client_port=");
    ASSERT_NE(at, std::string::npos) << transport;
    ASSERT_EQ(std::sscanf(transport.c_str() + at, "client_port=%u-%u", &rtp, &rtcp), 2) << transport;
    EXPECT_GE(rtp, 3558u);
    EXPECT_EQ(rtp % 2, 0u);
    EXPECT_EQ(rtcp, rtp + 1);
    camera.Stop();
}

// A four-channel video server started and stopped over and over: every
// thread, socket and sample of the driver comes back.
TEST_F(ChannelEndToEnd, FourChannelsStartedAndStoppedRepeatedlyLeakNothing) {
    camsim::CameraConfig config;
    config.channels.clear();
    for (uint32_t id = 1; id <= 4; ++id) {
        camsim::ChannelConfig c;
        c.id = id;
        c.codec = camsim::Codec::Mjpeg;
        config.channels.push_back(c);
    }
    // The camera runs in this process: the baseline is taken before it
    // starts, and compared once both camera and driver are gone. A first
    // thread comes and goes before: the sanitizer runtimes start their own
    // helper thread with the first one a process makes.
    std::thread([] {}).join();
    const size_t threads = CountEntries("/proc/self/task");
    const size_t descriptors = CountEntries("/proc/self/fd");
    camsim::Camera camera(config);
    ASSERT_TRUE(camera.Start());
    WriteMode(camera.HttpPort(), "RTPoverRTSP");
    Host host;
    ASSERT_TRUE(host.Open(camera, fakes::kCodecJpeg, 4));
    fakes::FakeStreamConfig settings(640, 480, 40, 50);
    for (int cycle = 0; cycle < 20; ++cycle) {
        for (uint32_t i = 0; i < 4; ++i) {
            host.sinks[i]->Clear();
            ASSERT_TRUE(host.Capture()->StartChannel(i, host.sinks[i].get(), &settings)) << cycle;
        }
        for (uint32_t i = 0; i < 4; ++i) ASSERT_TRUE(host.sinks[i]->WaitForFrames(2, 10000)) << "cycle " << cycle;
        for (uint32_t i = 0; i < 4; ++i) ASSERT_TRUE(host.Capture()->StopChannel(i));
    }
    EXPECT_EQ(host.allocator.allocations.load(), host.allocator.releases.load());
    EXPECT_EQ(host.debug.CountContaining("Video-server 127.0.0.1 (channel 3) is online"), 20u);
    host.Close();
    camera.Stop();
    EXPECT_TRUE(fakes::WaitUntil([&] { return CountEntries("/proc/self/task") <= threads; }, 3000))
        << CountEntries("/proc/self/task") << " threads, " << threads << " before";
    EXPECT_TRUE(fakes::WaitUntil([&] { return CountEntries("/proc/self/fd") <= descriptors; }, 3000))
        << CountEntries("/proc/self/fd") << " descriptors, " << descriptors << " before";
}

}  // namespace
