// The XML bodies the driver PUTs to a PSIA camera: single-line documents
// with fixed bytes. Values go in as they are, without escaping.
#pragma once

#include <string>

#include "psia/psia_records.h"

namespace telvaro {

// Body of PUT /PSIA/Streaming/channels/<id>.
std::string BuildStreamingChannel(const StreamingChannelSettings& settings);

// Body of PUT /PSIA/Streaming/channels, for cameras that refuse the PUT to
// the channel's own resource: the channel of the settings and a fixed MJPEG
// channel with id 1.
std::string BuildStreamingChannelList(const StreamingChannelSettings& settings);

// Body of PUT /PSIA/System/IO/outputs/<id>/trigger.
std::string BuildIOPortData(bool high);

}  // namespace telvaro
