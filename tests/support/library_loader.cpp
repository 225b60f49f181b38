#include "support/library_loader.h"

#include <dlfcn.h>

namespace fakes {

LibraryLoader::LibraryLoader(const std::string& path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* e = dlerror();
        error_ = e ? e : "dlopen failed";
    }
}

LibraryLoader::~LibraryLoader() {
    if (handle_) dlclose(handle_);
}

void* LibraryLoader::Symbol(const char* name) const { return handle_ ? dlsym(handle_, name) : nullptr; }

}  // namespace fakes
