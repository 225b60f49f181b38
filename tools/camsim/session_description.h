// The SDP (RFC 4566) a DESCRIBE answer carries: one video medium with the
// RTP payload format of the clip (RFC 6184, RFC 3016, RFC 2435).
#pragma once

#include <string>

#include "camsim/camera_config.h"
#include "camsim/clip_library.h"

namespace camsim {

// parameterSets: announce the H.264 parameter sets (sprop-parameter-sets) or
// the MPEG-4 configuration (config); without them no fmtp line is written.
std::string BuildSessionDescription(const ServedClip& clip, bool parameterSets, uint32_t maxFrameRate,
                                    const std::string& address, uint32_t sessionVersion);

}  // namespace camsim
