// Readers of the PSIA documents a camera answers with. Each takes a response
// body and returns true once it was well-formed XML; a missing element only
// leaves its field at 0, false or empty. Numbers are read with ParseDecimal,
// booleans are true only for the exact text "true", and no value is trimmed.
// An unreadable body leaves the record as it was, except for the port lists,
// which are emptied first.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "psia/psia_records.h"

namespace telvaro {

bool ParseStreamingChannel(std::string_view body, StreamingChannelSettings& settings);

// One list entry (ListEntry defaults) per channel id, in document order.
bool ParseStreamingChannelList(std::string_view body, std::vector<StreamingChannelSettings>& channels);

// A capabilities document, whose "opt", "min" and "max" attributes carry the
// offered values. Fills rtspPort, qualityControlTypes, the bit-rate range and
// fixedQualityOptions in any case; true only when at least one known codec,
// one resolution and one frame rate result. channelId is left to the caller.
bool ParseCapabilities(std::string_view body, ChannelCapabilities& capabilities);

bool ParseDeviceInfo(std::string_view body, PsiaDeviceInfo& info);

bool ParseResponseStatus(std::string_view body, ResponseStatus& status);

// inactive: ioState is exactly "inactive".
bool ParseIOPortStatus(std::string_view body, bool& inactive);

// Both lists of an IOPortList document.
bool ParseIOPortList(std::string_view body, IOPortLists& ports);
// The inputs of an IOInputPortList document; the outputs are left alone.
bool ParseIOInputPortList(std::string_view body, IOPortLists& ports);
// The outputs of an IOOutputPortList document; the inputs are left alone.
bool ParseIOOutputPortList(std::string_view body, IOPortLists& ports);

}  // namespace telvaro
