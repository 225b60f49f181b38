#include "platform/process.h"

#include <windows.h>

#include <vector>

namespace telvaro {
namespace platform {

std::string ExecutableDirectory() {
    // The path as the ANSI functions give it, at most 499 characters.
    char buffer[500] = {0};
    DWORD n = GetModuleFileNameA(nullptr, buffer, 499);
    if (n == 0 || n >= 499) return std::string();
    std::string path(buffer, n);
    size_t separator = path.find_last_of("\\/");
    if (separator == std::string::npos) return std::string();
    return path.substr(0, separator + 1);
}

bool LoadedLibraryVersion(const std::string& baseName, LibraryVersion& version) {
    version = LibraryVersion{};
    if (baseName.empty()) return false;
    HMODULE module = GetModuleHandleA((baseName + ".dll").c_str());
    if (!module) return false;
    char path[MAX_PATH + 1] = {0};
    DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    if (size == 0) return false;
    std::vector<char> data(size);
    if (!GetFileVersionInfoA(path, 0, size, data.data())) return false;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &length) || !info ||
        length < sizeof(VS_FIXEDFILEINFO)) {
        return false;
    }
    // The product version, not the file version.
    version.major = HIWORD(info->dwProductVersionMS);
    version.minor = LOWORD(info->dwProductVersionMS);
    version.build = HIWORD(info->dwProductVersionLS);
    version.revision = LOWORD(info->dwProductVersionLS);
    return true;
}

void KeepLibraryLoaded() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&KeepLibraryLoaded), &module);
}

bool FileExists(const std::string& path) {
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

}  // namespace platform
}  // namespace telvaro
