// Memory over camera restarts: camsim serves N channels (640x480 H.264 from
// the project's test clips), ombrelix-host records all N through the
// driver's exports, and every round the camera is killed and started again
// on the same ports after a short pause, as a camera that reboots. After each
// round (just before the restart) it prints the host process's resident
// memory (in all, and split into the main heap, other anonymous memory and
// mapped files), what malloc counts as in use and what it holds from the
// system, its threads and open descriptors and how many channels streamed,
// so that one sees whether the footprint levels off and whether what grows
// is allocated memory or the allocator's own.
//
//   bench_soak [--channels 64] [--modes udp,tcp] [--round SECONDS] [--rounds N] [--down SECONDS]
//
// The defaults (4 rounds of 20 s) are a quick look; an hour is, for example,
// --round 60 --rounds 30 for each of the two modes.
#include <dirent.h>
#include <poll.h>
#include <sys/stat.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace {

using bench::Child;
using Clock = std::chrono::steady_clock;

struct Options {
    unsigned channels = 64;
    std::vector<std::string> modes = {"udp", "tcp"};
    double round = 20;
    unsigned rounds = 4;
    double down = 2;
};

bool StartCamera(Child& camsim, const std::string& work, unsigned channels, uint16_t& httpPort, uint16_t& rtspPort) {
    if (!camsim.Start({OMBRELIX_CAMSIM, "--http-port", std::to_string(httpPort), "--rtsp-port",
                       std::to_string(rtspPort), "--channels", std::to_string(channels), "--inputs", "0",
                       "--outputs", "0"},
                      work + "/camsim.err", true))
        return false;
    return bench::WaitForOutput(
        camsim, [&](const std::string& text) { return bench::CamsimListens(text, httpPort, rtspPort); });
}

// The host's resident memory by kind of mapping: the main heap, other
// anonymous memory (malloc's thread arenas and large blocks, thread stacks)
// and mapped files (code, libraries).
struct ResidentSplit {
    uint64_t heapKb = 0, anonKb = 0, fileKb = 0;
};

ResidentSplit SplitResident(pid_t pid) {
    ResidentSplit split;
    std::istringstream smaps(bench::ReadAll("/proc/" + std::to_string(pid) + "/smaps"));
    std::string line;
    uint64_t* kind = nullptr;
    while (std::getline(smaps, line)) {
        if (line.empty()) continue;
        if (std::isxdigit(static_cast<unsigned char>(line[0])) && line.find('-') < line.find(' ')) {
            // "start-end perms offset dev inode [path]"
            std::istringstream fields(line);
            std::string range, perms, offset, dev, inode, path;
            fields >> range >> perms >> offset >> dev >> inode >> path;
            kind = path == "[heap]" ? &split.heapKb : path.empty() || path[0] == '[' ? &split.anonKb : &split.fileKb;
        } else if (kind && line.rfind("Rss:", 0) == 0) {
            *kind += std::strtoull(line.c_str() + 4, nullptr, 10);
        }
    }
    return split;
}

// What malloc holds in the host, over all its arenas: the bytes in use and
// those taken from the system (arenas and large blocks). glibc counts the
// blocks each thread keeps in its own cache (tcache) after freeing them as
// in use, so this may grow slowly while the program's live blocks do not.
// Read with gdb, which stops the process for a moment; false where gdb is
// missing or cannot attach.
bool MallocTotals(pid_t pid, double& inUseMb, double& heldMb) {
    const std::string command = "gdb -nx -batch -p " + std::to_string(pid) +
                                " -ex 'p mallinfo2()' 2>/dev/null </dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return false;
    std::string text;
    char buffer[4096];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) text.append(buffer, n);
    pclose(pipe);
    auto field = [&text](const char* name, double& value) {
        const size_t at = text.find(std::string(name) + " = ");
        if (at == std::string::npos) return false;
        value = std::strtod(text.c_str() + at + std::strlen(name) + 3, nullptr) / (1024.0 * 1024.0);
        return true;
    };
    double arena = 0, mapped = 0, used = 0;
    if (!field("arena", arena) || !field("hblkhd", mapped) || !field("uordblks", used)) return false;
    inUseMb = used + mapped;  // a large block is mapped while in use
    heldMb = arena + mapped;
    return true;
}

unsigned OpenDescriptors(pid_t pid) {
    unsigned count = 0;
    DIR* dir = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
    if (!dir) return 0;
    while (dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.') ++count;
    closedir(dir);
    return count;
}

// Reads the host's progress lines until the time is up; the last line's
// streaming channels and frames.
bool Follow(Child& host, Clock::time_point until, unsigned& streaming, unsigned long long& frames) {
    std::string text;
    while (Clock::now() < until) {
        pollfd p{host.Output(), POLLIN, 0};
        poll(&p, 1, 100);
        if (!host.Read(text)) return false;
        for (const std::string& line : Child::TakeLines(text)) {
            double t = 0;
            unsigned long long bytes = 0;
            std::sscanf(line.c_str(), "progress %lf %u %llu %llu", &t, &streaming, &frames, &bytes);
        }
    }
    return true;
}

bool Soak(const Options& options, const std::string& work, const std::string& hostCopy, const std::string& mode) {
    {
        std::ofstream config(work + "/host/Ombrelix.xml");
        config << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Configuration><Device><VideoChannel><RTPMode>"
               << (mode == "udp" ? "RTPoverUDP" : "RTPoverTCP") << "</RTPMode></VideoChannel></Device></Configuration>\n";
    }
    Child camsim;
    uint16_t httpPort = 0, rtspPort = 0;
    if (!StartCamera(camsim, work, options.channels, httpPort, rtspPort)) {
        std::printf("camsim did not start (see %s)\n", camsim.ErrorFile().c_str());
        return false;
    }
    const double total = options.rounds * (options.round + options.down) + 30;
    std::vector<std::string> args = {hostCopy, "record", "--library", OMBRELIX_LIBRARY, "-a", "127.0.0.1", "-p",
                                     std::to_string(httpPort), "-u", "admin", "-w", "admin", "-n",
                                     std::to_string(options.channels), "--codec", "h264", "-d",
                                     std::to_string(total), "--discard", "--progress", "-q"};
    for (unsigned i = 1; i <= options.channels; ++i) {
        args.push_back("--capability");
        args.push_back(std::to_string(i) + ";" + std::to_string(rtspPort) + ";CBR,VBR;64;8192;20,40,60,80,100");
    }
    Child host;
    if (!host.Start(args, work + "/host.err", true)) {
        std::printf("ombrelix-host did not start\n");
        return false;
    }
    std::printf("%-4s %5s %8s %8s %8s %8s %8s %8s %8s %8s %7s %5s %14s\n", "mode", "round", "time s", "RSS MB",
                "peak MB", "heap MB", "anon MB", "file MB", "used MB", "malloc", "threads", "fds", "frames (round)");
    const auto start = Clock::now();
    auto next = start;
    bool ok = true;
    unsigned long long before = 0;
    for (unsigned round = 1; round <= options.rounds; ++round) {
        next += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.round));
        unsigned streaming = 0;
        unsigned long long frames = 0;
        if (!Follow(host, next, streaming, frames)) {
            std::printf("ombrelix-host ended early (see %s)\n", host.ErrorFile().c_str());
            return false;
        }
        uint64_t rssKb = 0, peakKb = 0;
        unsigned threads = 0;
        host.Footprint(rssKb, threads);
        std::istringstream status(bench::ReadAll("/proc/" + std::to_string(host.Pid()) + "/status"));
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("VmHWM:", 0) == 0) peakKb = std::strtoull(line.c_str() + 6, nullptr, 10);
        const ResidentSplit split = SplitResident(host.Pid());
        double usedMb = 0, heldMb = 0;
        char used[16] = "-", held[16] = "-";
        if (MallocTotals(host.Pid(), usedMb, heldMb)) {
            std::snprintf(used, sizeof used, "%.2f", usedMb);
            std::snprintf(held, sizeof held, "%.2f", heldMb);
        }
        std::printf("%-4s %5u %8.0f %8.2f %8.1f %8.2f %8.2f %8.2f %8s %8s %7u %5u %14llu\n", mode.c_str(), round,
                    std::chrono::duration<double>(Clock::now() - start).count(), rssKb / 1024.0, peakKb / 1024.0,
                    split.heapKb / 1024.0, split.anonKb / 1024.0, split.fileKb / 1024.0, used, held, threads,
                    OpenDescriptors(host.Pid()), frames - before);
        std::fflush(stdout);
        // Every round must bring frames again after the camera came back.
        if (frames == before) {
            std::printf("no frame in round %u\n", round);
            ok = false;
        }
        before = frames;
        // The camera goes away at once, as on a power cut, and comes back on
        // the same ports.
        camsim.Kill();
        next += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.down));
        if (!Follow(host, next, streaming, frames)) return false;
        if (!StartCamera(camsim, work, options.channels, httpPort, rtspPort)) {
            std::printf("camsim did not start again (see %s)\n", camsim.ErrorFile().c_str());
            return false;
        }
    }
    host.Signal(SIGINT);
    host.Wait(60000);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const char* value = argv[i + 1];
        if (option == "--channels") {
            options.channels = static_cast<unsigned>(std::atoi(value));
        } else if (option == "--modes") {
            options.modes.clear();
            std::istringstream in(value);
            std::string m;
            while (std::getline(in, m, ',')) options.modes.push_back(m);
        } else if (option == "--round") {
            options.round = std::atof(value);
        } else if (option == "--rounds") {
            options.rounds = static_cast<unsigned>(std::atoi(value));
        } else if (option == "--down") {
            options.down = std::atof(value);
        }
    }
    signal(SIGPIPE, SIG_IGN);
    char folder[] = "/tmp/ombrelix-soak-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    const std::string work = folder;
    // The driver reads its configuration next to the host's executable.
    mkdir((work + "/host").c_str(), 0755);
    const std::string hostCopy = work + "/host/ombrelix-host";
    {
        std::ifstream in(OMBRELIX_HOST, std::ios::binary);
        std::ofstream out(hostCopy, std::ios::binary);
        out << in.rdbuf();
    }
    chmod(hostCopy.c_str(), 0755);
    std::printf("%u channels, camera killed after every %.0f s round and back %.0f s later\n", options.channels,
                options.round, options.down);
    bool ok = true;
    for (const std::string& mode : options.modes) ok = Soak(options, work, hostCopy, mode) && ok;
    if (ok) {
        const std::string cleanup = "rm -rf '" + work + "'";
        if (std::system(cleanup.c_str()) != 0) std::printf("could not remove %s\n", work.c_str());
    } else {
        std::printf("files kept in %s\n", work.c_str());
    }
    return ok ? 0 : 1;
}
