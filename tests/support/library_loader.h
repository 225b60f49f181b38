// Loads the built driver library the way a recorder host does: by path,
// finding every entry point by name.
#pragma once

#include <string>

#include "ombrelix/exports.h"

namespace fakes {

class LibraryLoader {
public:
    explicit LibraryLoader(const std::string& path);
    ~LibraryLoader();
    LibraryLoader(const LibraryLoader&) = delete;
    LibraryLoader& operator=(const LibraryLoader&) = delete;

    bool Loaded() const { return handle_ != nullptr; }
    const std::string& Error() const { return error_; }
    void* Symbol(const char* name) const;

    template <typename Fn>
    Fn Get(const char* name) const {
        return reinterpret_cast<Fn>(Symbol(name));
    }

private:
    void* handle_ = nullptr;
    std::string error_;
};

}  // namespace fakes
