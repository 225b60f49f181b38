#include "rtpkit/clip.h"

#include <fstream>
#include <iterator>

namespace rtpkit {

bool ReadFile(const std::string& path, Bytes& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

namespace {

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Position of the next 00 00 01 at or after from, or size.
size_t FindStartCode(const Bytes& s, size_t from) {
    for (size_t i = from; i + 2 < s.size(); ++i) {
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) return i;
    }
    return s.size();
}

}  // namespace

std::vector<Bytes> SplitAnnexB(const Bytes& stream) {
    std::vector<Bytes> nals;
    size_t pos = FindStartCode(stream, 0);
    while (pos < stream.size()) {
        size_t begin = pos + 3;
        size_t next = FindStartCode(stream, begin);
        size_t end = next;
        // A 4-byte start code's leading zero belongs to it, not to this NAL.
        while (end > begin && stream[end - 1] == 0 && next < stream.size()) --end;
        if (end > begin) nals.emplace_back(stream.begin() + static_cast<long>(begin), stream.begin() + static_cast<long>(end));
        pos = next;
    }
    return nals;
}

std::vector<Frame> SplitH264AccessUnits(const Bytes& stream) {
    std::vector<Frame> frames;
    Frame current;
    bool open = false;
    for (Bytes& nal : SplitAnnexB(stream)) {
        uint8_t type = nal[0] & 0x1F;
        if (type == 9) {
            if (open && !current.nals.empty()) frames.push_back(std::move(current));
            current = Frame();
            open = true;
            continue;
        }
        if (type == 5) current.key = true;
        current.nals.push_back(std::move(nal));
        open = true;
    }
    if (!current.nals.empty()) frames.push_back(std::move(current));
    return frames;
}

std::vector<Frame> SplitMpeg4Vops(const Bytes& stream, Bytes& config) {
    std::vector<Frame> frames;
    config.clear();
    size_t pos = 0;
    std::vector<size_t> vops;
    for (size_t i = FindStartCode(stream, 0); i < stream.size(); i = FindStartCode(stream, i + 3)) {
        if (i + 3 < stream.size() && stream[i + 3] == 0xB6) vops.push_back(i);
    }
    if (vops.empty()) return frames;
    config.assign(stream.begin(), stream.begin() + static_cast<long>(vops[0]));
    for (size_t k = 0; k < vops.size(); ++k) {
        pos = vops[k];
        size_t end = k + 1 < vops.size() ? vops[k + 1] : stream.size();
        Frame f;
        f.data.assign(stream.begin() + static_cast<long>(pos), stream.begin() + static_cast<long>(end));
        f.key = f.data.size() > 4 && (f.data[4] >> 6) == 0;  // vop_coding_type I
        frames.push_back(std::move(f));
    }
    return frames;
}

std::vector<Frame> SplitJpegImages(const Bytes& s) {
    std::vector<Frame> frames;
    size_t i = 0;
    while (i + 1 < s.size()) {
        if (!(s[i] == 0xFF && s[i + 1] == 0xD8)) {
            ++i;
            continue;
        }
        size_t start = i;
        size_t p = i + 2;
        bool done = false;
        while (!done && p + 1 < s.size()) {
            if (s[p] != 0xFF) break;
            uint8_t marker = s[p + 1];
            if (marker == 0xD9) {
                p += 2;
                done = true;
                break;
            }
            if (p + 3 >= s.size()) break;
            size_t length = static_cast<size_t>(s[p + 2]) << 8 | s[p + 3];
            p += 2 + length;
            if (marker == 0xDA) {
                // Entropy-coded data runs to the first marker that is neither
                // a stuffed zero nor a restart marker.
                while (p + 1 < s.size()) {
                    if (s[p] == 0xFF && s[p + 1] != 0x00 && !(s[p + 1] >= 0xD0 && s[p + 1] <= 0xD7)) break;
                    ++p;
                }
            }
        }
        if (!done) break;
        Frame f;
        f.data.assign(s.begin() + static_cast<long>(start), s.begin() + static_cast<long>(p));
        f.key = true;
        frames.push_back(std::move(f));
        i = p;
    }
    return frames;
}

bool LoadClip(const std::string& path, Clip& clip) {
    Bytes stream;
    if (!ReadFile(path, stream)) return false;
    clip = Clip();
    if (EndsWith(path, ".h264")) {
        clip.codec = Codec::H264;
        clip.frames = SplitH264AccessUnits(stream);
        for (const Frame& f : clip.frames) {
            for (const Bytes& nal : f.nals) {
                uint8_t type = nal[0] & 0x1F;
                if (type == 7 && clip.sps.empty()) clip.sps = nal;
                if (type == 8 && clip.pps.empty()) clip.pps = nal;
            }
        }
    } else if (EndsWith(path, ".m4v")) {
        clip.codec = Codec::Mpeg4;
        clip.frames = SplitMpeg4Vops(stream, clip.config);
    } else if (EndsWith(path, ".mjpeg")) {
        clip.codec = Codec::Jpeg;
        clip.frames = SplitJpegImages(stream);
    } else {
        return false;
    }
    return !clip.frames.empty();
}

}  // namespace rtpkit
