// The one-line text in which a channel's capabilities are handed from the
// capability query to the codec channels (through the device parameters):
// "channelId;rtspPort;qualityControlTypes;cbrMin;cbrMax;fixedQualityOptions".
// Codecs, resolutions and frame rates are not part of it.
#pragma once

#include <string>

#include "psia/psia_records.h"

namespace telvaro {

std::string FormatCapabilities(const ChannelCapabilities& capabilities);

// A text of any other number of fields than six changes nothing. The
// channel id of the text is added to the record's (0 in a fresh record);
// invalid numbers read as 0.
void ParseCapabilityText(const std::string& text, ChannelCapabilities& capabilities);

}  // namespace telvaro
