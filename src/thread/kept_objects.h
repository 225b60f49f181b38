// Objects that a thread which could not be ended may still use: kept for
// the life of the process instead of being freed under that thread.
#pragma once

#include <memory>

namespace telvaro {

void KeepForever(std::shared_ptr<void> object);

}  // namespace telvaro
