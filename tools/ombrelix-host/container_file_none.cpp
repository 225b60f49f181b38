// Builds without libavformat write raw elementary streams only.
#include "container_file.h"

namespace host {

bool ContainersAvailable() { return false; }

std::unique_ptr<MediaFile> OpenContainerFile(const std::string& format, const std::string&, const std::string&,
                                             std::string& error) {
    error = "this build of ombrelix-host writes no " + format + " files (no libavformat); use --format raw";
    return nullptr;
}

}  // namespace host
