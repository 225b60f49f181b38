#include "hostkit/driver_library.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <vector>

namespace hostkit {

std::string ProgramDirectory() {
    std::vector<char> buffer(PATH_MAX + 1, '\0');
    ssize_t n = readlink("/proc/self/exe", buffer.data(), PATH_MAX);
    if (n <= 0) return "./";
    std::string path(buffer.data(), static_cast<size_t>(n));
    return path.substr(0, path.rfind('/') + 1);
}

DriverLibrary::~DriverLibrary() {
    if (handle_) dlclose(handle_);
}

bool DriverLibrary::Load(const std::string& path) {
    std::vector<std::string> candidates;
    if (!path.empty()) {
        candidates.push_back(path);
    } else {
        candidates.push_back(ProgramDirectory() + "../../src/libombrelix.so");
        candidates.push_back(ProgramDirectory() + "libombrelix.so");
        candidates.push_back("libombrelix.so");
    }
    for (const std::string& candidate : candidates) {
        if (candidate.find('/') != std::string::npos && access(candidate.c_str(), R_OK) != 0) continue;
        handle_ = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_) {
            path_ = candidate;
            return true;
        }
        const char* e = dlerror();
        error_ = e ? e : "cannot load " + candidate;
    }
    if (error_.empty()) error_ = "libombrelix.so not found (use --library)";
    return false;
}

void* DriverLibrary::Symbol(const char* name) const { return handle_ ? dlsym(handle_, name) : nullptr; }

}  // namespace hostkit
