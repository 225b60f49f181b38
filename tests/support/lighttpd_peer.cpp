#include "support/lighttpd_peer.h"

#include "support/loopback_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

#include "util/md5.h"

namespace fakes {

namespace fs = std::filesystem;

namespace {

const char kHead[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

std::string Open(const std::string& name) { return "<" + name + " version=\"1.0\" xmlns=\"urn:psialliance-org\">\n"; }

const char kChannelRest[] =
    "<channelName>Main</channelName>\n<enabled>true</enabled>\n"
    "<Transport><rtspPortNo>554</rtspPortNo></Transport>\n"
    "<Video>\n<enabled>true</enabled>\n<videoInputChannelID>1</videoInputChannelID>\n"
    "<videoCodecType>H.264</videoCodecType>\n<videoResolutionWidth>640</videoResolutionWidth>\n"
    "<videoResolutionHeight>480</videoResolutionHeight>\n<videoQualityControlType>VBR</videoQualityControlType>\n"
    "<constantBitRate>2048</constantBitRate>\n<fixedQuality>50</fixedQuality>\n"
    "<maxFrameRate>2500</maxFrameRate>\n<keyFrameInterval>1000</keyFrameInterval>\n</Video>\n";

std::string ChannelBody(uint32_t id) { return "<id>" + std::to_string(id) + "</id>\n" + kChannelRest; }

const char kCapabilitiesRest[] =
    "<enabled opt=\"true,false\">true</enabled>\n"
    "<Transport><rtspPortNo min=\"1\" max=\"65535\">554</rtspPortNo></Transport>\n"
    "<Video>\n<videoCodecType opt=\"H.264,MJPEG\">H.264</videoCodecType>\n"
    "<videoResolutionWidth opt=\"640,1280\">640</videoResolutionWidth>\n"
    "<videoResolutionHeight opt=\"480,720\">480</videoResolutionHeight>\n"
    "<videoQualityControlType opt=\"CBR,VBR\">VBR</videoQualityControlType>\n"
    "<constantBitRate min=\"32\" max=\"6144\">2048</constantBitRate>\n"
    "<fixedQuality opt=\"25,50,75,100\">50</fixedQuality>\n"
    "<maxFrameRate opt=\"2500,1500,500\">2500</maxFrameRate>\n</Video>\n";

std::string Capabilities(uint32_t id) { return "<id>" + std::to_string(id) + "</id>\n" + kCapabilitiesRest; }

std::string PortList(const char* list, const char* port, uint32_t count) {
    std::string x = "<" + std::string(list) + ">\n";
    for (uint32_t id = 0; id < count; ++id) {
        x += "<" + std::string(port) + "><id>" + std::to_string(id) + "</id></" + port + ">\n";
    }
    return x + "</" + list + ">\n";
}

std::string InputStatus(uint32_t id, bool active) {
    return kHead + Open("IOPortStatus") + "<inputIOPortID>" + std::to_string(id) +
           "</inputIOPortID>\n<ioPortType>input</ioPortType>\n<ioState>" + (active ? "active" : "inactive") +
           "</ioState>\n</IOPortStatus>\n";
}

// Records "<target> <length>\n<body>\n" per PUT and answers success.
std::string PutScript(const std::string& log) {
    return "#!/bin/sh\n"
           "{ printf '%s %s\\n' \"$REQUEST_URI\" \"${CONTENT_LENGTH:-0}\"; cat; printf '\\n'; } >> '" + log + "'\n"
           "printf 'Status: 200 OK\\r\\nContent-Type: application/xml\\r\\n\\r\\n'\n"
           "printf '" + std::string(kHead) + "<ResponseStatus version=\"1.0\" xmlns=\"urn:psialliance-org\">"
           "<requestURL>%s</requestURL><statusCode>1</statusCode><statusString>OK</statusString>"
           "</ResponseStatus>\\n' \"$REQUEST_URI\"\n";
}

// A port no test server of this process had before (see BindOnLoopback).
uint16_t FreePort() {
    uint16_t port = 0;
    const fakes::SocketFd fd = fakes::BindOnLoopback(port);
    if (fd == fakes::kNoSocket) return 0;
    fakes::CloseSocketFd(fd);
    return port;
}

bool Listens(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    close(fd);
    return ok;
}

}  // namespace

LighttpdPeer::LighttpdPeer(uint32_t inputs, uint32_t outputs, std::string method, uint32_t channels)
    : inputs_(inputs), outputs_(outputs), channels_(channels), method_(std::move(method)) {}

LighttpdPeer::~LighttpdPeer() {
    Kill();
    std::error_code ignored;
    if (!dir_.empty()) fs::remove_all(dir_, ignored);
}

bool LighttpdPeer::WriteFile(const std::string& relative, const std::string& text) const {
    fs::path path = fs::path(dir_) / relative;
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    // Written aside and renamed, so that a request never reads half a file.
    fs::path aside = path.string() + ".new";
    {
        std::ofstream out(aside, std::ios::binary);
        if (!(out << text)) return false;
    }
    fs::rename(aside, path, ec);
    return !ec;
}

// Every document lives at its resource path plus ".xml", so that a resource
// and the resources below it (".../IO" and ".../IO/inputs") can both be files.
bool LighttpdPeer::WriteConfig() {
    std::ostringstream conf;
    conf << "server.modules = (\"mod_rewrite\", \"mod_auth\", \"mod_authn_file\", \"mod_cgi\")\n"
         << "server.document-root = \"" << dir_ << "/www\"\n"
         << "server.bind = \"127.0.0.1\"\n"
         << "server.port = " << port_ << "\n"
         << "server.errorlog = \"" << dir_ << "/error.log\"\n"
         // Input states change between polls: no file is served from a cache.
         << "server.stat-cache-engine = \"disable\"\n"
         << "mimetype.assign = (\".xml\" => \"application/xml\")\n"
         << "auth.backend = \"htdigest\"\n"
         << "auth.backend.htdigest.userfile = \"" << dir_ << "/users\"\n"
         << "auth.require = (\"/\" => (\"method\" => \"" << method_ << "\", \"realm\" => \"" << kRealm
         << "\", \"require\" => \"valid-user\"))\n"
         << "$HTTP[\"request-method\"] == \"PUT\" {\n"
         << "  url.rewrite-once = (\"^/PSIA/\" => \"/put.cgi\")\n"
         << "  cgi.assign = (\".cgi\" => \"/bin/sh\")\n"
         << "} else {\n"
         << "  url.rewrite-once = (\"^(/PSIA/[^?]*)\" => \"$1.xml\")\n"
         << "}\n";
    return WriteFile("lighttpd.conf", conf.str());
}

std::vector<std::string> LighttpdPeer::Command() const {
    return {"/usr/sbin/lighttpd", "-D", "-f", dir_ + "/lighttpd.conf"};
}

bool LighttpdPeer::WriteSite() {
    const std::string user = kUserName;
    std::string ha1 = telvaro::Md5Hex(user + ":" + kRealm + ":" + kPassword);
    bool ok = WriteConfig() && WriteFile("users", user + ":" + kRealm + ":" + ha1 + "\n") &&
              WriteFile("www/put.cgi", PutScript(dir_ + "/puts.log"));

    const std::string inputs = PortList("IOInputPortList", "IOInputPort", inputs_);
    const std::string outputs = PortList("IOOutputPortList", "IOOutputPort", outputs_);
    std::string list = Open("StreamingChannelList");
    std::vector<std::pair<std::string, std::string>> documents = {
        {"System/deviceInfo",
         Open("DeviceInfo") + "<deviceName>Peer</deviceName>\n<deviceID>7d1a0000-0000-0000-0000-000000000001</deviceID>\n"
                              "<model>Lighttpd-PSIA</model>\n<macAddress>02:00:00:00:01:01</macAddress>\n"
                              "<firmwareVersion>1.4</firmwareVersion>\n</DeviceInfo>\n"},
        {"System/IO", Open("IOPortList") + inputs + outputs + "</IOPortList>\n"},
        {"System/IO/inputs", Open("IOInputPortList") + inputs.substr(inputs.find('\n') + 1)},
        {"System/IO/outputs", Open("IOOutputPortList") + outputs.substr(outputs.find('\n') + 1)},
    };
    for (uint32_t id = 1; id <= channels_; ++id) {
        const std::string path = "Streaming/channels/" + std::to_string(id);
        list += "<StreamingChannel>\n" + ChannelBody(id) + "</StreamingChannel>\n";
        documents.emplace_back(path, Open("StreamingChannel") + ChannelBody(id) + "</StreamingChannel>\n");
        documents.emplace_back(path + "/capabilities", Open("StreamingChannel") + Capabilities(id) + "</StreamingChannel>\n");
    }
    documents.emplace_back("Streaming/channels", list + "</StreamingChannelList>\n");
    for (const auto& d : documents) ok = ok && WriteFile("www/PSIA/" + d.first + ".xml", kHead + d.second);
    for (uint32_t i = 0; i < inputs_; ++i) ok = ok && SetInputActive(i, false);
    return ok;
}

bool LighttpdPeer::SetInputActive(uint32_t input, bool active) {
    return WriteFile("www/PSIA/System/IO/inputs/" + std::to_string(input) + "/status.xml", InputStatus(input, active));
}

bool LighttpdPeer::Launch(std::string& error) {
    const std::vector<std::string> command = Command();
    std::vector<char*> argv;
    for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    const std::string output = dir_ + "/output.log";
    pid_ = fork();
    if (pid_ < 0) {
        error = "fork failed";
        return false;
    }
    if (pid_ == 0) {
        // The server goes when the thread that started it does, however the
        // test ends.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        // A group of its own: Apache signals its whole process group when it
        // stops, which would otherwise include the test.
        setpgid(0, 0);
        int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd >= 0) {
            dup2(fd, STDOUT_FILENO);
            dup2(fd, STDERR_FILENO);
        }
        execv(argv[0], argv.data());
        execvp(fs::path(command[0]).filename().c_str(), argv.data());
        _exit(127);
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            std::ifstream log(output);
            std::ostringstream text;
            text << log.rdbuf();
            error = command[0] + " ended (is it installed?): " + text.str();
            return false;
        }
        if (Listens(port_)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    error = command[0] + " does not listen";
    Kill();
    return false;
}

bool LighttpdPeer::Start(std::string& error) {
    std::string pattern = (fs::temp_directory_path() / "ombrelix-lighttpd-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        error = "no temporary folder";
        return false;
    }
    dir_ = pattern;
    // Another process may take the free port before lighttpd binds it.
    for (int attempt = 0; attempt < 3; ++attempt) {
        port_ = FreePort();
        if (!WriteSite()) {
            error = "cannot write " + dir_;
            return false;
        }
        if (Launch(error)) return true;
    }
    return false;
}

void LighttpdPeer::Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 200; ++i) {
        if (waitpid(pid_, &status, WNOHANG) != 0) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

std::vector<LighttpdPeer::Put> LighttpdPeer::Puts() const {
    std::ifstream in(dir_ + "/puts.log", std::ios::binary);
    std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<Put> puts;
    size_t at = 0;
    for (;;) {
        size_t lineEnd = log.find('\n', at);
        if (lineEnd == std::string::npos) break;
        std::string line = log.substr(at, lineEnd - at);
        size_t space = line.rfind(' ');
        if (space == std::string::npos) break;
        size_t length = std::strtoul(line.c_str() + space + 1, nullptr, 10);
        // A record still being written is left for the next look.
        if (lineEnd + 1 + length + 1 > log.size()) break;
        puts.push_back({line.substr(0, space), log.substr(lineEnd + 1, length)});
        at = lineEnd + 1 + length + 1;
    }
    return puts;
}

}  // namespace fakes
