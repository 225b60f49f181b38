#include "thread/kept_objects.h"

#include <mutex>
#include <vector>

namespace telvaro {

void KeepForever(std::shared_ptr<void> object) {
    static std::mutex keptLock;
    // Never destroyed: the objects must outlive every thread, even at exit.
    static auto* kept = new std::vector<std::shared_ptr<void>>();
    std::lock_guard<std::mutex> guard(keptLock);
    kept->push_back(std::move(object));
}

}  // namespace telvaro
