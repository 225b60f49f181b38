// The PSIA documents the camera writes, and the reading of the documents a
// client PUTs. All in the namespace "urn:psialliance-org".
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "camsim/camera_config.h"

namespace camsim {
namespace psia {

// PSIA statusCode values.
enum Status { kOk = 1, kDeviceBusy = 2, kDeviceError = 3, kInvalidOperation = 4, kInvalidXmlFormat = 5,
              kInvalidXmlContent = 6, kRebootRequired = 7 };

using Resolutions = std::vector<std::pair<uint32_t, uint32_t>>;

std::string ResponseStatus(const std::string& requestUrl, int statusCode, const std::string& statusString);
std::string DeviceInfo(const CameraConfig& camera);
std::string StreamingChannel(const ChannelConfig& channel, uint16_t rtspPort);
std::string StreamingChannelList(const std::vector<ChannelConfig>& channels, uint16_t rtspPort);
// Offered values in opt, min and max attributes; resolutions largest first.
std::string Capabilities(const ChannelConfig& channel, const CameraConfig& camera, const Resolutions& resolutions,
                         uint16_t rtspPort);
std::string IOPortList(const std::vector<uint32_t>& inputs, const std::vector<uint32_t>& outputs);
std::string IOInputPortList(const std::vector<uint32_t>& inputs);
std::string IOOutputPortList(const std::vector<uint32_t>& outputs);
std::string IOPortStatus(uint32_t id, bool input, bool active);

// Reads a StreamingChannel document over channel (elements that are absent
// keep their value). Returns a Status: kOk, kInvalidXmlFormat or
// kInvalidXmlContent, with the reason in why.
int ReadStreamingChannel(const std::string& body, ChannelConfig& channel, std::string& why);
// Reads a StreamingChannelList over the known channels; an id listed twice
// takes its first entry, unknown ids are skipped; changed gets the ids read.
int ReadStreamingChannelList(const std::string& body, std::vector<ChannelConfig>& channels,
                             std::vector<uint32_t>& changed, std::string& why);
// IOPortData/outputState "high" or "low".
int ReadIOPortData(const std::string& body, bool& high, std::string& why);

}  // namespace psia
}  // namespace camsim
