#include "camsim/clip_library.h"

#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <set>

#include "rtpkit/jpeg_packetizer.h"

namespace camsim {

namespace {

bool CodecOfFile(const std::string& name, Codec& codec) {
    auto ends = [&name](const std::string& tail) {
        return name.size() > tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
    };
    if (ends(".h264")) {
        codec = Codec::H264;
    } else if (ends(".m4v")) {
        codec = Codec::Mpeg4;
    } else if (ends(".mjpeg")) {
        codec = Codec::Mjpeg;
    } else {
        return false;
    }
    return true;
}

// "<name>_<width>x<height>.<ext>"
bool SizeOfFile(const std::string& name, uint32_t& width, uint32_t& height) {
    size_t dot = name.rfind('.');
    size_t underscore = name.rfind('_', dot);
    if (dot == std::string::npos || underscore == std::string::npos) return false;
    std::string size = name.substr(underscore + 1, dot - underscore - 1);
    size_t x = size.find('x');
    if (x == std::string::npos || x == 0 || x + 1 >= size.size()) return false;
    if (size.find_first_not_of("0123456789x") != std::string::npos) return false;
    width = static_cast<uint32_t>(std::strtoul(size.substr(0, x).c_str(), nullptr, 10));
    height = static_cast<uint32_t>(std::strtoul(size.substr(x + 1).c_str(), nullptr, 10));
    return width > 0 && height > 0 && width <= 8192 && height <= 8192;
}

}  // namespace

bool ClipFileInfo(const std::string& name, Codec& codec, uint32_t& width, uint32_t& height) {
    return CodecOfFile(name, codec) && SizeOfFile(name, width, height);
}

bool ClipLibrary::Open(const std::string& folder, std::string* error) {
    folder_ = folder;
    entries_.clear();
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
        if (error) *error = "cannot read the clip folder " + folder;
        return false;
    }
    while (dirent* e = readdir(dir)) {
        Entry entry{e->d_name, Codec::H264, 0, 0};
        if (ClipFileInfo(entry.file, entry.codec, entry.width, entry.height)) entries_.push_back(entry);
    }
    closedir(dir);
    std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) { return a.file < b.file; });
    if (entries_.empty() && error) *error = "no clips in " + folder;
    return !entries_.empty();
}

psia::Resolutions ClipLibrary::Resolutions() const {
    std::set<std::pair<uint32_t, uint32_t>, std::greater<std::pair<uint32_t, uint32_t>>> sizes;
    for (const Entry& e : entries_) sizes.insert({e.width, e.height});
    return psia::Resolutions(sizes.begin(), sizes.end());
}

std::shared_ptr<const ServedClip> ClipLibrary::Pick(Codec codec, uint32_t width, uint32_t height,
                                                     const std::string& file) {
    const Entry* best = nullptr;
    uint64_t bestDistance = 0;
    for (const Entry& e : entries_) {
        if (!file.empty()) {
            if (e.file == file) {
                best = &e;
                break;
            }
            continue;
        }
        if (e.codec != codec) continue;
        int64_t dw = static_cast<int64_t>(e.width) - width;
        int64_t dh = static_cast<int64_t>(e.height) - height;
        uint64_t distance = static_cast<uint64_t>(dw * dw + dh * dh);
        if (!best || distance < bestDistance) {
            best = &e;
            bestDistance = distance;
        }
    }
    return best ? Load(*best) : nullptr;
}

std::shared_ptr<const ServedClip> ClipLibrary::Load(const Entry& entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = loaded_.find(entry.file);
    if (it != loaded_.end()) return it->second;
    auto served = std::make_shared<ServedClip>();
    served->file = entry.file;
    served->codec = entry.codec;
    served->width = entry.width;
    served->height = entry.height;
    if (!rtpkit::LoadClip(folder_ + "/" + entry.file, served->clip)) return nullptr;
    if (entry.codec == Codec::Mjpeg) {
        rtpkit::JpegInfo info;
        if (rtpkit::ParseJpeg(served->clip.frames[0].data, info, nullptr)) {
            for (int q = 1; q <= 99 && served->tablesQ == 0; ++q) {
                if (rtpkit::TablesForQ(q) == info.tables) served->tablesQ = q;
            }
        }
    }
    loaded_[entry.file] = served;
    return served;
}

}  // namespace camsim
