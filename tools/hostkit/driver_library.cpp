#include "hostkit/driver_library.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>
#endif

#include <vector>

namespace hostkit {

#if defined(_WIN32)

std::string ProgramPath() {
    char buffer[MAX_PATH + 1] = {0};
    DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return std::string();
    return std::string(buffer, n);
}

std::string ProgramDirectory() {
    const std::string path = ProgramPath();
    if (path.empty()) return ".\\";
    return path.substr(0, path.find_last_of("\\/") + 1);
}

DriverLibrary::~DriverLibrary() {
    if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
}

bool DriverLibrary::Load(const std::string& path) {
    std::vector<std::string> candidates;
    if (!path.empty()) {
        candidates.push_back(path);
    } else {
        candidates.push_back(ProgramDirectory() + "Ombrelix.dll");
        candidates.push_back(ProgramDirectory() + "..\\..\\src\\Ombrelix.dll");
    }
    error_.clear();
    for (const std::string& candidate : candidates) {
        handle_ = LoadLibraryA(candidate.c_str());
        if (handle_) {
            path_ = candidate;
            error_.clear();
            return true;
        }
        error_ += (error_.empty() ? "" : "; ") + candidate + " (error " + std::to_string(GetLastError()) + ")";
    }
    error_ = "tried " + error_ + (path.empty() ? "; --library names another Ombrelix.dll" : "");
    return false;
}

void* DriverLibrary::Symbol(const char* name) const {
    return handle_ ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name)) : nullptr;
}

#else

std::string ProgramPath() {
    std::vector<char> buffer(PATH_MAX + 1, '\0');
    ssize_t n = readlink("/proc/self/exe", buffer.data(), PATH_MAX);
    if (n <= 0) return std::string();
    return std::string(buffer.data(), static_cast<size_t>(n));
}

std::string ProgramDirectory() {
    const std::string path = ProgramPath();
    if (path.empty()) return "./";
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
        candidates.push_back(ProgramDirectory() + "../lib/libombrelix.so");  // installed
        candidates.push_back("libombrelix.so");
    }
    error_.clear();
    for (const std::string& candidate : candidates) {
        std::string why;
        if (candidate.find('/') != std::string::npos && access(candidate.c_str(), R_OK) != 0) {
            why = candidate + " (not found)";
        } else {
            handle_ = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (handle_) {
                path_ = candidate;
                error_.clear();
                return true;
            }
            const char* e = dlerror();
            why = e ? std::string(e) : candidate + " (cannot be loaded)";
        }
        error_ += (error_.empty() ? "" : "; ") + why;
    }
    error_ = "tried " + error_ + (path.empty() ? "; --library names another libombrelix.so" : "");
    return false;
}

void* DriverLibrary::Symbol(const char* name) const { return handle_ ? dlsym(handle_, name) : nullptr; }

#endif

}  // namespace hostkit
