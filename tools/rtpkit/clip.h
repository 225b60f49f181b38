// Test clips: reading the files in testdata/ and cutting them into frames.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rtpkit {

using Bytes = std::vector<uint8_t>;

enum class Codec { H264, Mpeg4, Jpeg };

struct Frame {
    // H.264: the access unit's NAL units (without start codes, delimiters
    // dropped). MPEG-4: one VOP (from its start code). JPEG: a whole JPEG file.
    std::vector<Bytes> nals;
    Bytes data;
    bool key = false;
};

struct Clip {
    Codec codec = Codec::H264;
    std::vector<Frame> frames;
    // MPEG-4: the configuration headers in front of the first VOP.
    Bytes config;
    // H.264: the first sequence and picture parameter sets found.
    Bytes sps;
    Bytes pps;
};

bool ReadFile(const std::string& path, Bytes& out);
// Codec from the file name ending: .h264, .m4v, .mjpeg.
bool LoadClip(const std::string& path, Clip& clip);

// NAL units of an Annex B stream (3- or 4-byte start codes), without them.
std::vector<Bytes> SplitAnnexB(const Bytes& stream);
// Access units cut at access unit delimiters (NAL type 9).
std::vector<Frame> SplitH264AccessUnits(const Bytes& stream);
// Configuration before the first VOP, and the VOPs.
std::vector<Frame> SplitMpeg4Vops(const Bytes& stream, Bytes& config);
// Concatenated JPEG files, cut at their markers (never inside entropy data).
std::vector<Frame> SplitJpegImages(const Bytes& stream);

}  // namespace rtpkit
