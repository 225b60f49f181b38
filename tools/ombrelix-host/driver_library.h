// The driver library loaded by path, its entry points found by name.
#pragma once

#include <string>

#include "ombrelix/exports.h"

namespace host {

class DriverLibrary {
public:
    DriverLibrary() = default;
    ~DriverLibrary();
    DriverLibrary(const DriverLibrary&) = delete;
    DriverLibrary& operator=(const DriverLibrary&) = delete;

    // An empty path picks the library built next to this program, else the
    // system's search for libombrelix.so.
    bool Load(const std::string& path);
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

}  // namespace host
