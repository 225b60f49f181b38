#include "platform/process.h"

#include <dlfcn.h>
#include <link.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace telvaro {
namespace platform {

std::string ExecutableDirectory() {
    std::vector<char> buffer(PATH_MAX + 1, '\0');
    ssize_t n = readlink("/proc/self/exe", buffer.data(), PATH_MAX);
    if (n <= 0) return std::string();
    std::string path(buffer.data(), static_cast<size_t>(n));
    size_t slash = path.rfind(kPathSeparator);
    if (slash == std::string::npos) return std::string();
    return path.substr(0, slash + 1);
}

namespace {

struct Search {
    std::string prefix;  // "libbrannock.so"
    std::string found;   // path of the loaded object
};

int VisitObject(dl_phdr_info* info, size_t, void* data) {
    auto* search = static_cast<Search*>(data);
    if (!info->dlpi_name || !*info->dlpi_name) return 0;
    std::string path(info->dlpi_name);
    size_t slash = path.rfind('/');
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base.compare(0, search->prefix.size(), search->prefix) != 0) return 0;
    if (base.size() != search->prefix.size() && base[search->prefix.size()] != '.') return 0;
    search->found = path;
    return 1;
}

// Reads "A.B.C.D" (two to four numbers, missing ones 0).
bool ParseVersion(const std::string& text, LibraryVersion& version) {
    uint32_t parts[4] = {0, 0, 0, 0};
    size_t count = 0;
    size_t i = 0;
    while (i < text.size()) {
        if (count == 4) return false;
        size_t start = i;
        uint32_t value = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            value = value * 10 + static_cast<uint32_t>(text[i] - '0');
            if (value > 0xFFFF) return false;
            ++i;
        }
        if (i == start) return false;
        parts[count++] = value;
        if (i < text.size()) {
            if (text[i] != '.') return false;
            ++i;
            if (i == text.size()) return false;
        }
    }
    if (count < 2) return false;
    version.major = static_cast<uint16_t>(parts[0]);
    version.minor = static_cast<uint16_t>(parts[1]);
    version.build = static_cast<uint16_t>(parts[2]);
    version.revision = static_cast<uint16_t>(parts[3]);
    return true;
}

}  // namespace

bool LoadedLibraryVersion(const std::string& baseName, LibraryVersion& version) {
    version = LibraryVersion{};
    if (baseName.empty()) return false;
    Search search;
    search.prefix = "lib" + baseName + ".so";
    dl_iterate_phdr(&VisitObject, &search);
    if (search.found.empty()) return false;
    char* resolved = realpath(search.found.c_str(), nullptr);
    if (!resolved) return false;
    std::string path(resolved);
    free(resolved);
    size_t slash = path.rfind('/');
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base.size() <= search.prefix.size() + 1 || base.compare(0, search.prefix.size(), search.prefix) != 0 ||
        base[search.prefix.size()] != '.') {
        return false;
    }
    LibraryVersion parsed;
    if (!ParseVersion(base.substr(search.prefix.size() + 1), parsed)) return false;
    version = parsed;
    return true;
}

void KeepLibraryLoaded() {
    // A new reference that no dlclose can drop: RTLD_NODELETE on an object
    // already loaded (glibc and musl alike keep it from then on).
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&KeepLibraryLoaded), &info) == 0 || !info.dli_fname) return;
    dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

bool FileExists(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0) return true;
    return errno != ENOENT && errno != ENOTDIR;
}

}  // namespace platform
}  // namespace telvaro
