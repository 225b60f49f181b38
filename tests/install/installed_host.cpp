// Opens the installed library by the path its package file gives and makes
// and deletes a driver through the exports.
#include <dlfcn.h>

#include <cstdio>

#include "ombrelix/exports.h"

int main() {
    void* library = dlopen(OMBRELIX_LIBRARY, RTLD_NOW);
    if (!library) {
        std::printf("cannot load %s: %s\n", OMBRELIX_LIBRARY, dlerror());
        return 1;
    }
    auto create = reinterpret_cast<ombrelix_abi::CreateIPCaptureEx3Fn>(dlsym(library, "CreateIPCaptureEx3"));
    auto destroy = reinterpret_cast<ombrelix_abi::DeleteIPCaptureEx3Fn>(dlsym(library, "DeleteIPCaptureEx3"));
    if (!create || !destroy) return 1;
    destroy(create());
    std::printf("driver made and deleted\n");
    return 0;
}
