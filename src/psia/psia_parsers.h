// Readers of the PSIA documents a camera answers with. Each takes a response
// body and returns true once it was well-formed XML; a missing element only
// leaves its field at 0, false or empty. Numbers are read with ParseDecimal,
// booleans are true only for the exact text "true", and no value is trimmed.
// An unreadable body leaves the record as it was, except for the port lists,
// which are emptied first.
#pragma once

#include <string>
#include <vector>

#include "psia/psia_records.h"

namespace telvaro {

bool ParseStreamingChannel(const std::string& body, StreamingChannelSettings& settings);

// One list entry (ListEntry defaults) per channel id, in document order.
bool ParseStreamingChannelList(const std::string& body, std::vector<StreamingChannelSettings>& channels);

// A capabilities document, whose "opt", "min" and "max" attributes carry the
// offered values. Fills rtspPort, qualityControlTypes, the bit-rate range and
// fixedQualityOptions in any case; true only when at least one known codec,
// one resolution and one frame rate result. channelId is left to the caller.
bool ParseCapabilities(const std::string& body, ChannelCapabilities& capabilities);

bool ParseDeviceInfo(const std::string& body, PsiaDeviceInfo& info);

bool ParseResponseStatus(const std::string& body, ResponseStatus& status);

// inactive: ioState is exactly "inactive".
bool ParseIOPortStatus(const std::string& body, bool& inactive);

// Both lists of an IOPortList document.
bool ParseIOPortList(const std::string& body, IOPortLists& ports);
// The inputs of an IOInputPortList document; the outputs are left alone.
bool ParseIOInputPortList(const std::string& body, IOPortLists& ports);
// The outputs of an IOOutputPortList document; the inputs are left alone.
bool ParseIOOutputPortList(const std::string& body, IOPortLists& ports);

}  // namespace telvaro
