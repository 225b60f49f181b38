// Facts about the running process: where its executable lies and which
// version of the host's core library it has loaded.
#pragma once

#include <cstdint>
#include <string>

namespace telvaro {
namespace platform {

#if defined(_WIN32)
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// Directory of the running executable, ending in the path separator; empty
// when it cannot be read.
std::string ExecutableDirectory();

struct LibraryVersion {
    uint16_t major = 0;
    uint16_t minor = 0;
    uint16_t build = 0;
    uint16_t revision = 0;
};

// Product version of a library the process has loaded, by its base name
// ("brannock" stands for brannock.dll on Windows and libbrannock.so on
// Linux, whose resolved file name libbrannock.so.A.B.C.D carries the
// version). False, with all zeros, when the name is empty, the library is
// not loaded or its version cannot be read.
bool LoadedLibraryVersion(const std::string& baseName, LibraryVersion& version);

// Keeps the library this code is in loaded until the process ends, whatever
// the host unloads: for a thread of it that could not be ended.
void KeepLibraryLoaded();

// Whether a file exists (a failed open for another reason counts as existing).
bool FileExists(const std::string& path);

}  // namespace platform
}  // namespace telvaro
