// Matroska and MP4 files written through libavformat, where the build has it.
#pragma once

#include <memory>
#include <string>

#include "media_file.h"

namespace host {

bool ContainersAvailable();
// format "mkv" or "mp4", codec h264, mpeg4 or jpeg.
std::unique_ptr<MediaFile> OpenContainerFile(const std::string& format, const std::string& codec,
                                             const std::string& path, std::string& error);

}  // namespace host
