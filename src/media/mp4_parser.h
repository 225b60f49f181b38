// Reads the picture size of an MPEG-4 part 2 stream from its configuration
// headers (ISO/IEC 14496-2 6.2.2 to 6.2.3): visual object sequence, visual
// object, video object and video object layer, or from a short video header
// (H.263 picture header, ITU-T H.263 5.1).
#pragma once

#include <cstddef>
#include <cstdint>

namespace telvaro {

class CBitReader;

class CMP4Parser {
public:
    CMP4Parser() = default;
    virtual ~CMP4Parser() = default;

    // Width and height rounded up to multiples of 16. False unless the
    // headers are of the simple object type with a rectangular, low-delay
    // layer and both sizes are 1 to 32000.
    bool Parse(const uint8_t* data, size_t length, uint32_t& width, uint32_t& height) const;

private:
    bool ParseAll(const uint8_t* data, size_t length, uint32_t& width, uint32_t& height) const;
    static bool ReadVideoObjectLayer(CBitReader& r, uint32_t& width, uint32_t& height);
    static bool ReadShortVideoHeader(CBitReader& r, uint32_t& width, uint32_t& height);
};

}  // namespace telvaro
