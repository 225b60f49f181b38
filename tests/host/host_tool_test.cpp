// ombrelix-host as a person runs it: its output, its files and its exit
// status, against the camera simulator, GStreamer's RTSP server and the
// lighttpd PSIA peer, with ffprobe as the independent judge of the
// recordings and pictures.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "camsim/camera.h"
#include "support/gst_rtsp_peer.h"
#include "support/lighttpd_peer.h"

namespace {

namespace fs = std::filesystem;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs ombrelix-host with the arguments; after interruptAfter seconds (0:
// never) it gets SIGINT, as from Ctrl-C.
Result RunHost(std::vector<std::string> arguments, double interruptAfter = 0) {
    const fs::path out = fs::temp_directory_path() / ("host_out_" + std::to_string(getpid()));
    const fs::path err = fs::temp_directory_path() / ("host_err_" + std::to_string(getpid()));
    arguments.insert(arguments.begin(), OMBRELIX_HOST_PATH);
    std::vector<char*> argv;
    for (std::string& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        if (!freopen(out.c_str(), "w", stdout) || !freopen(err.c_str(), "w", stderr)) _exit(126);
        unsetenv("OMBRELIX_PASSWORD");
        execv(argv[0], argv.data());
        _exit(127);
    }
    Result r;
    if (interruptAfter > 0) {
        std::this_thread::sleep_for(std::chrono::duration<double>(interruptAfter));
        kill(pid, SIGINT);
    }
    int raw = 0;
    waitpid(pid, &raw, 0);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = ReadAll(out);
    r.err = ReadAll(err);
    fs::remove(out);
    fs::remove(err);
    return r;
}

// ffprobe's word on a file: by default "codec frames duration".
std::string Probe(const fs::path& file,
                  const std::string& entries = "stream=codec_name,nb_read_frames:format=duration") {
    const std::string command = "ffprobe -v error -count_frames -select_streams v:0 -show_entries " + entries +
                                " -of default=nw=1:nk=1 '" + file.string() + "' 2>/dev/null";
    std::string text;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[512];
    size_t n;
    while (pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
    if (pipe) pclose(pipe);
    for (char& c : text)
        if (c == '\n') c = ' ';
    return text;
}

class HostTool : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("host_tool_" + std::to_string(getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        if (camera) camera->Stop();
        fs::remove_all(dir);
    }
    void StartCamera(camsim::CameraConfig config = camsim::CameraConfig()) {
        config.clipFolder = OMBRELIX_TESTDATA_DIR;
        camera = std::make_unique<camsim::Camera>(config);
        std::string error;
        ASSERT_TRUE(camera->Start(&error)) << error;
    }
    std::string Capability(uint32_t id) const {
        return std::to_string(id) + ";" + std::to_string(camera->RtspPort()) + ";CBR,VBR;64;8192;20,40,60";
    }
    // A command against the camera, writing to output, with the given options after.
    std::vector<std::string> Command(const char* name, const std::string& output, std::vector<std::string> more,
                                     const char* password) const {
        std::vector<std::string> a = {name, "--library", OMBRELIX_LIBRARY_PATH, "-p", std::to_string(camera->HttpPort()),
                                      "-u", "admin", "-w", password, "-o", output};
        a.insert(a.end(), more.begin(), more.end());
        return a;
    }
    std::vector<std::string> Record(std::vector<std::string> more, const char* password = "admin") const {
        return Command("record", dir.string(), more, password);
    }

    fs::path dir;
    std::unique_ptr<camsim::Camera> camera;
};

TEST_F(HostTool, BadOptionsSayWhatIsWrongAndExitTwo) {
    const std::string library = OMBRELIX_LIBRARY_PATH;
    const struct {
        std::vector<std::string> arguments;
        const char* message;
    } cases[] = {
        {{"record", "--quality", "500"}, "--quality: Value 500 not in range 0 to 100"},
        {{"record", "-n", "0"}, "--channels: Value 0 not in range 1 to 256"},
        {{"record", "--width", "0"}, "--width: Value 0 not in range"},
        {{"record", "--height", "0"}, "--height: Value 0 not in range"},
        {{"record", "-p", "0"}, "--port: Value 0 not in range 1 to 65535"},
        {{"record", "-d", "0"}, "--duration"},
        {{"record", "--capability", "101;554;CBR"}, "has 3 fields, not the six of channelId;rtspPort;"},
        {{"record", "--capability", "101;554;CBR;64;x;20"}, "field 5 (cbrMax) is not a number"},
        {{"record", "--capability", "101;0;CBR;64;8192;20"}, "field 2 (rtspPort) is not a port"},
        {{"record", "--transport", "sctp"}, "--transport: sctp not in {udp,tcp,rtsp}"},
        {{"record", "--config", "x.xml", "--transport", "tcp"}, "excludes"},
        {{"record", "--library", "/nowhere/libombrelix.so", "-d", "1"}, "tried /nowhere/libombrelix.so (not found)"},
        {{"io", "--library", library, "--set", "one=1"}, "--set takes OUTPUT=VALUE"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.back());
        const Result r = RunHost(c.arguments);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    const Result version = RunHost({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "ombrelix-host " OMBRELIX_VERSION "\n");
    const Result help = RunHost({"record", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Examples:"), std::string::npos);
}

// The frames go into a container with the driver's frame times: as many
// seconds play as were recorded, and the frame log stays beside.
TEST_F(HostTool, RecordingsPlayForAsLongAsTheyWereRecorded) {
    StartCamera();
    const struct {
        const char* codec;
        const char* format;
        const char* ffprobeCodec;
        const char* file;
        bool gstreamer;  // the RTSP session goes to GStreamer's server
    } cases[] = {
        {"h264", "mkv", "h264", "channel0.mkv", false},
        {"h264", "mp4", "h264", "channel0.mp4", false},
        {"jpeg", "mkv", "mjpeg", "channel0.mkv", false},
        {"h264", "raw", "h264", "channel0.h264", false},
        {"mpeg4", "mkv", "mpeg4", "channel0.mkv", true},
    };
    fakes::GstRtspPeer::Options options;
    options.codec = "mpeg4";
    fakes::GstRtspPeer gstreamer(options);
    std::string error;
    ASSERT_TRUE(gstreamer.Start(&error)) << error;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.codec) + " " + c.format);
        camsim::ChannelConfig channel = camera->Channels().front();
        channel.codec = std::string(c.codec) == "jpeg" ? camsim::Codec::Mjpeg : camsim::Codec::H264;
        ASSERT_TRUE(camera->SetChannel(channel));
        const std::string capability =
            c.gstreamer ? "1;" + std::to_string(gstreamer.Port()) + ";VBR;64;8192;20,40,60" : Capability(channel.id);
        // GStreamer starts its encoder for each session, slowly on a busy machine.
        const Result r = RunHost(Record({"-c", c.codec, "--format", c.format, "-y", "--json", "-q", "-d",
                                         c.gstreamer ? "7" : "4", "--transport", "tcp", "--capability", capability}));
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        const nlohmann::json summary = nlohmann::json::parse(r.out, nullptr, false);
        ASSERT_FALSE(summary.is_discarded()) << r.out;
        const nlohmann::json& ch = summary["channels"][0];
        EXPECT_EQ(ch["file"], (dir / c.file).string());
        EXPECT_EQ(ch["transport"], "RTPoverTCP");
        const double seconds = ch["seconds"];
        EXPECT_GT(seconds, 2.0);
        std::istringstream probe(Probe(dir / c.file));
        std::string codec;
        long frames = 0;
        double duration = 0;
        probe >> codec >> frames >> duration;
        EXPECT_EQ(codec, c.ffprobeCodec) << probe.str();
        EXPECT_GE(frames, static_cast<long>(ch["frames"]) - 25) << probe.str();
        if (std::string(c.format) != "raw") {
            EXPECT_NEAR(duration, seconds, 0.5) << probe.str();
        }
        EXPECT_TRUE(fs::exists(dir / "channel0.log"));
    }
}

// A run that delivers nothing leaves an earlier recording as it was, and
// nothing is replaced without -y.
TEST_F(HostTool, AFailedRunLeavesTheEarlierRecording) {
    StartCamera();
    const std::vector<std::string> common = {"-q", "-d", "3", "--transport", "tcp", "--capability", Capability(1)};
    // The recording to keep gets time enough for its first frame on a busy
    // machine (the whole command's time counts the capability query too).
    std::vector<std::string> first = common;
    first[2] = "6";
    const Result recorded = RunHost(Record(first));
    ASSERT_EQ(recorded.status, 0) << recorded.out << recorded.err;
    const auto size = fs::file_size(dir / "channel0.mkv");
    ASSERT_GT(size, 1000u);

    Result r = RunHost(Record(common));
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("channel0.mkv exists (-y or --overwrite replaces it)"), std::string::npos) << r.err;
    std::vector<std::string> overwrite = common;
    overwrite.push_back("-y");
    r = RunHost(Record(overwrite, "wrong"));
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("file none: no frame arrived"), std::string::npos) << r.out;
    EXPECT_EQ(fs::file_size(dir / "channel0.mkv"), size);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);  // no partial file left
}

// A camera that falls silent fails the run; Ctrl-C ends it with 130 and a
// file that plays.
TEST_F(HostTool, ExitStatusTellsOfABrokenRecording) {
    camsim::CameraConfig config;
    config.channels[0].frameLimit = 50;  // two seconds, then silence
    StartCamera(config);
    Result r = RunHost(Record({"-q", "-d", "6", "--transport", "tcp", "--capability", Capability(1)}));
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("fps is under 50% of the asked 25.0 fps"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("longest gap"), std::string::npos) << r.out;

    camsim::ChannelConfig channel = camera->Channels().front();
    channel.frameLimit = 0;
    ASSERT_TRUE(camera->SetChannel(channel));
    r = RunHost(Record({"-q", "-y", "-d", "30", "--transport", "tcp", "--capability", Capability(1)}), 4);
    EXPECT_EQ(r.status, 130) << r.out << r.err;
    EXPECT_NE(r.out.find("file " + (dir / "channel0.mkv").string() + ": ok"), std::string::npos) << r.out;
    EXPECT_NE(Probe(dir / "channel0.mkv").find("h264"), std::string::npos);
}

// Without --capability the query runs; a camera whose query describes fewer
// channels than asked for is named, not recorded from a wrong channel.
TEST_F(HostTool, EveryChannelGetsACapabilityTextOrTheToolSaysWhichNot) {
    camsim::CameraConfig config;
    config.channels.resize(2);
    config.channels[1].id = 2;
    StartCamera(config);
    Result r = RunHost(Record({"-q", "-n", "2", "-d", "5", "--transport", "tcp", "--capability", Capability(1),
                               "--capability", Capability(2)}));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(fs::exists(dir / "channel0.mkv") && fs::exists(dir / "channel1.mkv"));

    fakes::LighttpdPeer peer(0, 0, "digest", 3);
    std::string error;
    ASSERT_TRUE(peer.Start(error)) << error;
    r = RunHost({"record", "--library", OMBRELIX_LIBRARY_PATH, "-p", std::to_string(peer.Port()), "-u",
                 fakes::LighttpdPeer::kUserName, "-w", fakes::LighttpdPeer::kPassword, "-n", "3", "-d", "5", "-o",
                 dir.string(), "-q"});
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_NE(r.out.find("capability text: 1;554;"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("describes 1 streaming channel, 3 were asked for: give channels 1 to 2 a --capability"),
              std::string::npos)
        << r.err;
}

// Outputs are touched only when asked for, the write's result is told, and
// the password never shows.
TEST_F(HostTool, OutputsChangeOnlyWhenAsked) {
    fakes::LighttpdPeer peer(1, 2);
    std::string error;
    ASSERT_TRUE(peer.Start(error)) << error;
    const std::vector<std::string> io = {"io", "--library", OMBRELIX_LIBRARY_PATH, "-p", std::to_string(peer.Port()),
                                         "-u", fakes::LighttpdPeer::kUserName, "-w", fakes::LighttpdPeer::kPassword,
                                         "--inputs", "1", "-d", "3"};
    Result r = RunHost(io);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("no output is touched"), std::string::npos) << r.out;
    EXPECT_TRUE(peer.Puts().empty());

    std::vector<std::string> set = io;
    set.insert(set.end(), {"--set", "0=0"});
    r = RunHost(set);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("the driver drives output 0 high as it starts, then: 0 <- 0"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("output 0 <- 0 written"), std::string::npos) << r.out;
    std::vector<std::string> targets;
    for (const auto& put : peer.Puts()) targets.push_back(put.target);
    EXPECT_EQ(targets, std::vector<std::string>(2, "/PSIA/System/IO/outputs/0/trigger"));

    r = RunHost({"probe", "--library", OMBRELIX_LIBRARY_PATH, "-p", std::to_string(peer.Port()), "-u",
                 fakes::LighttpdPeer::kUserName, "-w", fakes::LighttpdPeer::kPassword, "--json"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find(fakes::LighttpdPeer::kPassword), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"4\": \"********\""), std::string::npos) << r.out;
}

// The transport of a configuration file of the user's: named, and a mode
// the driver does not know is warned about.
TEST_F(HostTool, ConfigurationFileTransportIsNamed) {
    StartCamera();
    const struct {
        const char* mode;
        const char* transport;
        const char* warning;
    } cases[] = {
        {"RTPoverRTSP", "RTPoverRTSP", ""},
        {"RTPoverTcp", "RTPoverUDP", "RTPMode 'RTPoverTcp'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        const fs::path file = dir / "mine.xml";
        std::ofstream(file) << "<Configuration><Device><VideoChannel><RTPMode>" << c.mode
                            << "</RTPMode></VideoChannel></Device></Configuration>\n";
        const Result r = RunHost(Record({"-q", "-y", "-d", "6", "--config", file.string(), "--capability", Capability(1)}));
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_NE(r.out.find(std::string(", ") + c.transport + ", file"), std::string::npos) << r.out;
        EXPECT_NE(r.err.find(c.warning), std::string::npos) << r.err;
    }
}

// Failures say why, as the driver tells it, also with -q.
TEST_F(HostTool, FailuresNameTheirCause) {
    StartCamera();
    const std::string library = OMBRELIX_LIBRARY_PATH;
    const std::string port = std::to_string(camera->HttpPort());
    const struct {
        std::vector<std::string> arguments;
        const char* out;
        const char* err;
    } cases[] = {
        {{"probe", "-p", port, "-u", "admin", "-w", "wrong"}, "deviceInfo answered HTTP 401 (code 3)", ""},
        {{"probe", "-p", port}, "answered HTTP 401 (code 3); no user name was given (-u)", ""},
        {{"probe", "-p", "1", "-u", "admin", "-w", "admin"}, "127.0.0.1:1 refused the connection", ""},
        {{"probe", "-a", "no-such-camera.invalid", "-u", "admin"}, "no-such-camera.invalid is not known", ""},
        {{"io", "-p", port, "-u", "admin", "-w", "wrong", "--inputs", "1", "-d", "2"},
         "I/O failure: digital inputs: GET /PSIA/System/IO/inputs/0/status answered HTTP 401", ""},
        {Record({"-q", "-d", "4", "--transport", "tcp", "--capability", Capability(1)}, "wrong"),
         "no frame arrived (the driver says: GET /PSIA/Streaming/channels/1 answered HTTP 401)",
         "the driver says: GET /PSIA/Streaming/channels/1 answered HTTP 401"},
    };
    for (auto c : cases) {
        if (c.arguments.front() != "record") c.arguments.insert(c.arguments.begin() + 1, {"--library", library});
        SCOPED_TRACE(c.arguments[3]);
        const Result r = RunHost(c.arguments);
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
}

// One decoded picture per channel at the asked size, from camsim's clips and
// from GStreamer's RTSP server; a channel that gives none in time fails the
// run, says why and leaves no file.
TEST_F(HostTool, SnapshotsArePicturesOfTheAskedSize) {
    camsim::CameraConfig config;
    config.channels.resize(2);
    config.channels[1].id = 2;
    StartCamera(config);
    fakes::GstRtspPeer gstreamer(fakes::GstRtspPeer::Options{});  // H.264, 320x240
    std::string error;
    ASSERT_TRUE(gstreamer.Start(&error)) << error;
    const struct {
        const char* codec;
        camsim::Codec camera;
        const char* width;
        const char* height;
        bool gstreamer;
        uint32_t channels;
    } cases[] = {
        {"h264", camsim::Codec::H264, "1280", "720", false, 1},
        {"mpeg4", camsim::Codec::Mpeg4, "1280", "720", false, 1},
        {"jpeg", camsim::Codec::Mjpeg, "640", "480", false, 2},
        {"h264", camsim::Codec::H264, "320", "240", true, 1},
    };
    const std::string prefix = (dir / "shot").string();
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.codec) + (c.gstreamer ? " gstreamer" : " camsim"));
        camsim::ChannelConfig channel = camera->Channels().front();
        channel.codec = c.camera;
        ASSERT_TRUE(camera->SetChannel(channel));
        channel.id = 2;
        ASSERT_TRUE(camera->SetChannel(channel));
        std::vector<std::string> arguments = {"-y", "-q", "-t", "10", "-c", c.codec, "--width", c.width, "--height",
                                              c.height, "--transport", "tcp", "-n", std::to_string(c.channels)};
        for (uint32_t i = 1; i <= c.channels; ++i) {
            arguments.push_back("--capability");
            arguments.push_back(c.gstreamer ? "1;" + std::to_string(gstreamer.Port()) + ";VBR;64;8192;20,40,60"
                                            : Capability(i));
        }
        const Result r = RunHost(Command("snapshot", prefix, arguments, "admin"));
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        for (uint32_t i = 0; i < c.channels; ++i) {
            const std::string file = prefix + "-ch" + std::to_string(i) + ".png";
            EXPECT_NE(r.out.find("channel " + std::to_string(i) + ": " + c.width + "x" + c.height + " "),
                      std::string::npos)
                << r.out;
            EXPECT_NE(r.out.find(": " + file + "\n"), std::string::npos) << r.out;
            EXPECT_EQ(Probe(file, "stream=codec_name,width,height"), std::string("png ") + c.width + " " + c.height + " ");
        }
    }
    Result r = RunHost(Command("snapshot", prefix, {"-q", "--capability", Capability(1)}, "admin"));
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("shot-ch0.png exists (-y or --overwrite replaces it)"), std::string::npos) << r.err;

    r = RunHost(Command("snapshot", (dir / "refused").string(),
                        {"-q", "-t", "4", "--transport", "tcp", "--capability", Capability(1)}, "wrong"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("channel 0: no picture in time: no frame arrived (the driver says: GET "
                         "/PSIA/Streaming/channels/1 answered HTTP 401)"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);  // shot-ch0.png, shot-ch1.png
}

}  // namespace
