#include "device_options.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace host {

namespace {

void TrimLineEnd(std::string& text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
}

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

}  // namespace host
