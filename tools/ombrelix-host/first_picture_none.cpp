// Builds without libavcodec decode no pictures.
#include "first_picture.h"

namespace host {

bool PicturesAvailable() { return false; }

std::unique_ptr<FirstPicture> NewFirstPicture(const std::string&, std::string& error) {
    error = "this build of ombrelix-host decodes no pictures (no libavcodec): record instead";
    return nullptr;
}

}  // namespace host
