// The driver library loaded by path, its entry points found by name.
#pragma once

#include <string>

#include "ombrelix/exports.h"

namespace hostkit {

class DriverLibrary {
public:
    DriverLibrary() = default;
    // Loads the library at path at once (see Load).
    explicit DriverLibrary(const std::string& path) { Load(path); }
    ~DriverLibrary();
    DriverLibrary(const DriverLibrary&) = delete;
    DriverLibrary& operator=(const DriverLibrary&) = delete;

    // An empty path picks the library built next to this program, else the
    // system's search for libombrelix.so.
    bool Load(const std::string& path);
    bool Loaded() const { return handle_ != nullptr; }
    const std::string& Error() const { return error_; }
    const std::string& Path() const { return path_; }
    void* Symbol(const char* name) const;
    template <typename Fn>
    Fn Get(const char* name) const {
        return reinterpret_cast<Fn>(Symbol(name));
    }

private:
    void* handle_ = nullptr;
    std::string path_;
    std::string error_;
};

// Directory of this program, ending in '/'.
std::string ProgramDirectory();
// This program's own file.
std::string ProgramPath();

}  // namespace hostkit
