#include "device_options.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <termios.h>
#include <unistd.h>
#endif

#include "hostkit/driver_library.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace host {

namespace {

void TrimLineEnd(std::string& text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
}

#if defined(_WIN32)

// Reads one line from the console with echo switched off.
bool AskOnTerminal(const DeviceOptions& options, std::string& password, std::string& error) {
    HANDLE input = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    if (input == INVALID_HANDLE_VALUE) {
        error = "--ask-password: no console to ask on";
        return false;
    }
    DWORD saved = 0;
    const bool hasMode = GetConsoleMode(input, &saved) != 0;
    if (hasMode) SetConsoleMode(input, saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    std::fprintf(stderr, "Password for %s@%s: ", options.user.c_str(), options.address.c_str());
    std::fflush(stderr);
    char buffer[512];
    DWORD read = 0;
    const bool ok = ReadFile(input, buffer, sizeof(buffer), &read, nullptr) && read > 0;
    if (hasMode) SetConsoleMode(input, saved);
    CloseHandle(input);
    std::fputs("\n", stderr);
    if (!ok) {
        error = "--ask-password: nothing was entered";
        return false;
    }
    password.assign(buffer, read);
    TrimLineEnd(password);
    return true;
}

#else

// Reads one line from the controlling terminal with echo switched off.
bool AskOnTerminal(const DeviceOptions& options, std::string& password, std::string& error) {
    FILE* tty = std::fopen("/dev/tty", "r+");
    if (!tty) {
        error = "--ask-password: no terminal to ask on";
        return false;
    }
    const int fd = fileno(tty);
    termios saved{};
    const bool hasTermios = tcgetattr(fd, &saved) == 0;
    if (hasTermios) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    std::fprintf(tty, "Password for %s@%s: ", options.user.c_str(), options.address.c_str());
    std::fflush(tty);
    char* line = nullptr;
    size_t capacity = 0;
    const bool read = getline(&line, &capacity, tty) >= 0;
    if (hasTermios) tcsetattr(fd, TCSAFLUSH, &saved);
    std::fputs("\n", tty);
    std::fclose(tty);
    if (read) password = line;
    std::free(line);
    if (!read) {
        error = "--ask-password: nothing was entered";
        return false;
    }
    TrimLineEnd(password);
    return true;
}

#endif

}  // namespace

bool ResolvePassword(DeviceOptions& options, std::string& error) {
    if (!options.passwordFile.empty()) {
        std::ifstream file(options.passwordFile);
        if (!file) {
            error = "--password-file: cannot read " + options.passwordFile;
            return false;
        }
        std::getline(file, options.password);
        TrimLineEnd(options.password);
        return true;
    }
    if (options.askPassword) return AskOnTerminal(options, options.password, error);
    if (options.password.empty()) {
        if (const char* fromEnvironment = std::getenv(kPasswordVariable)) options.password = fromEnvironment;
    }
    return true;
}

std::string MaskedPassword(const std::string& password) { return password.empty() ? "" : "********"; }

int CurrentProcessId() {
#if defined(_WIN32)
    return static_cast<int>(GetCurrentProcessId());
#else
    return static_cast<int>(getpid());
#endif
}

bool LoadDriver(hostkit::DriverLibrary& library, const DeviceOptions& options) {
    if (library.Load(options.library)) return true;
    std::fprintf(stderr, "ombrelix-host: cannot load the driver: %s\n", library.Error().c_str());
    return false;
}

}  // namespace host
