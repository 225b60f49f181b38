// The clips a camera can serve: indexed by codec and picture size from their
// file names (<name>_<width>x<height>.h264|.m4v|.mjpeg), loaded on first use.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "camsim/camera_config.h"
#include "camsim/psia_xml.h"
#include "rtpkit/clip.h"

namespace camsim {

struct ServedClip {
    std::string file;
    Codec codec = Codec::H264;
    uint32_t width = 0;
    uint32_t height = 0;
    rtpkit::Clip clip;
    // JPEG: the Q (1 to 99) whose computed tables are the clip's, 0 if none.
    int tablesQ = 0;
};

// Codec and picture size of a clip from its file name; false for a name
// that does not follow <name>_<width>x<height>.h264|.m4v|.mjpeg.
bool ClipFileInfo(const std::string& name, Codec& codec, uint32_t& width, uint32_t& height);

class ClipLibrary {
public:
    bool Open(const std::string& folder, std::string* error);
    // Every distinct size, largest first.
    psia::Resolutions Resolutions() const;
    // The named file, or else the clip of the codec nearest to the size
    // (ties go to the first file name); null if there is none or it does not load.
    std::shared_ptr<const ServedClip> Pick(Codec codec, uint32_t width, uint32_t height, const std::string& file);

private:
    struct Entry {
        std::string file;
        Codec codec;
        uint32_t width;
        uint32_t height;
    };
    std::shared_ptr<const ServedClip> Load(const Entry& entry);

    std::string folder_;
    std::vector<Entry> entries_;  // sorted by file name
    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<const ServedClip>> loaded_;
};

}  // namespace camsim
