#include "private_configuration.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <vector>

#include "hostkit/driver_library.h"

namespace host {

namespace {

namespace fs = std::filesystem;

// The copy learns the library and the password from these.
constexpr const char kLibraryVariable[] = "OMBRELIX_HOST_PRIVATE_LIBRARY";
constexpr const char kFileName[] = "Ombrelix.xml";

void SetVariable(const char* name, const std::string& value) {
#if defined(_WIN32)
    SetEnvironmentVariableA(name, value.c_str());
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

const char* ModeOf(const std::string& transport) {
    if (transport == "tcp") return "RTPoverTCP";
    if (transport == "rtsp") return "RTPoverRTSP";
    return "RTPoverUDP";
}

#if defined(_WIN32)

// One argument quoted the way the C runtime splits a command line.
std::string Quoted(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out.push_back(c);
    }
    out.append(backslashes * 2, '\\');
    return out + "\"";
}

int RunCopy(const std::string& program, int argc, char** argv) {
    std::string line = Quoted(program);
    for (int i = 1; i < argc; ++i) line += " " + Quoted(argv[i]);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    if (!CreateProcessA(program.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        std::fprintf(stderr, "ombrelix-host: cannot run %s (error %lu)\n", program.c_str(), GetLastError());
        return 1;
    }
    // Ctrl-C reaches the copy, which ends its recording; this one waits.
    SetConsoleCtrlHandler(nullptr, TRUE);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

fs::path MakePrivateFolder() {
    const fs::path dir = fs::temp_directory_path() /
                         ("ombrelix-host-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount()));
    std::error_code failed;
    return fs::create_directory(dir, failed) ? dir : fs::path();
}

#else

pid_t g_copy = -1;

// A signal sent to this process alone (not from the terminal) is passed on;
// the copy seeing Ctrl-C twice is harmless.
void Forward(int signal) {
    if (g_copy > 0) kill(g_copy, signal);
}

int RunCopy(const std::string& program, int argc, char** argv) {
    std::vector<char*> arguments(argv, argv + argc);
    arguments[0] = const_cast<char*>(program.c_str());
    arguments.push_back(nullptr);
    // The copy ends its recording on Ctrl-C; this one waits for it.
    signal(SIGINT, Forward);
    signal(SIGTERM, Forward);
    g_copy = fork();
    if (g_copy == 0) {
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        execv(program.c_str(), arguments.data());
        _exit(127);
    }
    if (g_copy < 0) {
        std::fprintf(stderr, "ombrelix-host: cannot run %s\n", program.c_str());
        return 1;
    }
    int raw = 0;
    while (waitpid(g_copy, &raw, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 1;
}

fs::path MakePrivateFolder() {
    std::string pattern = (fs::temp_directory_path() / "ombrelix-host-XXXXXX").string();
    return mkdtemp(pattern.data()) ? fs::path(pattern) : fs::path();
}

#endif

// A configuration file read far enough to follow the driver's lookup:
// devices with their address and port, their channels with their id and
// RTPMode.
struct Entry {
    bool ownDevice = false;
    std::string id;  // empty: none given
    bool hasMode = false;
    std::string mode;
};

std::string Attribute(const std::string& attributes, const char* name) {
    std::smatch m;
    if (std::regex_search(attributes, m, std::regex(std::string("\\b") + name + "\\s*=\\s*\"([^\"]*)\"")))
        return m[1];
    return std::string();
}

std::vector<Entry> ReadEntries(const std::string& text, const RecordOptions& options) {
    std::vector<Entry> entries;
    const std::string plain = std::regex_replace(text, std::regex("<!--[\\s\\S]*?-->"), "");
    const std::regex device("<Device\\b([^>]*?)(/>|>([\\s\\S]*?)</Device>)");
    const std::regex channel("<VideoChannel\\b([^>]*?)(/>|>([\\s\\S]*?)</VideoChannel>)");
    const std::regex mode("<RTPMode>([^<]*)</RTPMode>");
    for (std::sregex_iterator d(plain.begin(), plain.end(), device), end; d != end; ++d) {
        const std::string attributes = (*d)[1];
        const bool own = Attribute(attributes, "address") == options.address &&
                         Attribute(attributes, "port") == std::to_string(options.port);
        const std::string body = (*d)[3];
        for (std::sregex_iterator c(body.begin(), body.end(), channel); c != end; ++c) {
            Entry e;
            e.ownDevice = own;
            e.id = Attribute((*c)[1], "id");
            const std::string inner = (*c)[3];
            std::smatch m;
            if (std::regex_search(inner, m, mode)) {
                e.hasMode = true;
                e.mode = m[1];
            }
            entries.push_back(e);
        }
    }
    return entries;
}

// The first entry that exists of: the channel's own under its device, any
// under its device, the channel's own under any device, the first.
const Entry* EntryFor(const std::vector<Entry>& entries, uint32_t channel) {
    const std::string id = std::to_string(channel);
    for (const Entry& e : entries)
        if (e.ownDevice && e.id == id) return &e;
    for (const Entry& e : entries)
        if (e.ownDevice) return &e;
    for (const Entry& e : entries)
        if (e.id == id) return &e;
    return entries.empty() ? nullptr : &entries.front();
}

}  // namespace

bool InPrivateFolder() { return std::getenv(kLibraryVariable) != nullptr; }

bool RunInPrivateFolder(const PrivateConfiguration& configuration, RecordOptions& options, int argc, char** argv,
                        int& status) {
    if (InPrivateFolder()) {
        if (options.library.empty()) options.library = std::getenv(kLibraryVariable);
        return false;
    }
    if (configuration.transport.empty() && configuration.file.empty()) return false;
    std::string text;
    if (!configuration.file.empty()) {
        std::ifstream in(configuration.file, std::ios::binary);
        std::ostringstream read;
        read << in.rdbuf();
        if (!in || !read) {
            std::fprintf(stderr, "ombrelix-host: --config: cannot read %s\n", configuration.file.c_str());
            status = 2;
            return true;
        }
        text = read.str();
    } else {
        text = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Configuration><Device><VideoChannel><RTPMode>") +
               ModeOf(configuration.transport) + "</RTPMode></VideoChannel></Device></Configuration>\n";
    }
    hostkit::DriverLibrary library;
    if (!LoadDriver(library, options)) {
        status = 2;
        return true;
    }
    const fs::path dir = MakePrivateFolder();
    const fs::path program = dir / fs::path(hostkit::ProgramPath()).filename();
    std::error_code failed;
    if (dir.empty() || !fs::copy_file(hostkit::ProgramPath(), program, failed) ||
        !(std::ofstream(dir / kFileName, std::ios::binary) << text)) {
        std::fprintf(stderr, "ombrelix-host: cannot make a private folder for the configuration in %s\n",
                     fs::temp_directory_path().string().c_str());
        fs::remove_all(dir, failed);
        status = 1;
        return true;
    }
    SetVariable(kLibraryVariable, fs::absolute(library.Path()).string());
    // The copy must not ask again.
    SetVariable(kPasswordVariable, options.password);
    status = RunCopy(program.string(), argc, argv);
    fs::remove_all(dir, failed);
    return true;
}

std::string DescribeTransport(const RecordOptions& options, const PrivateConfiguration& configuration) {
    const std::string path = hostkit::ProgramDirectory() + kFileName;
    const std::string shown = configuration.file.empty() ? path : configuration.file;
    std::error_code missing;
    if (!fs::exists(path, missing)) return "RTPoverUDP";
    std::ifstream in(path, std::ios::binary);
    std::ostringstream read;
    read << in.rdbuf();
    if (!in || !read) {
        std::fprintf(stderr, "ombrelix-host: warning: %s cannot be read: every channel uses RTPoverUDP\n",
                     shown.c_str());
        return "RTPoverUDP";
    }
    const std::string text = read.str();
    if (text.find("<Configuration") == std::string::npos) {
        std::fprintf(stderr,
                     "ombrelix-host: warning: %s holds no <Configuration> element: every channel uses RTPoverUDP\n",
                     shown.c_str());
        return "RTPoverUDP";
    }
    const std::vector<Entry> entries = ReadEntries(text, options);
    std::vector<std::string> modes;
    for (uint32_t i = 0; i < options.channels; ++i) {
        const Entry* e = EntryFor(entries, i);
        std::string mode = "RTPoverUDP";
        if (e && e->hasMode) {
            if (e->mode == "RTPoverTCP" || e->mode == "RTPoverRTSP") {
                mode = e->mode;
            } else if (e->mode != "RTPoverUDP") {
                std::fprintf(stderr,
                             "ombrelix-host: warning: RTPMode '%s' in %s (channel %u) is not RTPoverUDP, RTPoverTCP "
                             "or RTPoverRTSP (exact spelling): the driver uses RTPoverUDP\n",
                             e->mode.c_str(), shown.c_str(), i);
            }
        }
        modes.push_back(mode);
    }
    std::string described = modes.empty() ? "RTPoverUDP" : modes.front();
    for (size_t i = 1; i < modes.size(); ++i)
        if (modes[i] != modes.front()) described = "";
    if (described.empty())
        for (size_t i = 0; i < modes.size(); ++i) described += (i ? "," : "") + modes[i];
    return described;
}

}  // namespace host
