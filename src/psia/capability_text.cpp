#include "psia/capability_text.h"

#include <vector>

#include "util/text.h"

namespace telvaro {

namespace {

constexpr size_t kFieldCount = 6;

uint32_t Number(const std::string& text) {
    int32_t value = 0;
    ParseDecimal(text, value);
    return static_cast<uint32_t>(value);
}

}  // namespace

std::string FormatCapabilities(const ChannelCapabilities& c) {
    return FormatText("%u;%u;", c.channelId, c.rtspPort) + c.qualityControlTypes +
           FormatText(";%u;%u;", c.cbrMin, c.cbrMax) + c.fixedQualityOptions;
}

void ParseCapabilityText(const std::string& text, ChannelCapabilities& c) {
    std::vector<std::string> fields = SplitText(text, ';');
    if (fields.size() != kFieldCount) return;
    c.channelId += Number(fields[0]);
    c.rtspPort = Number(fields[1]);
    c.qualityControlTypes = fields[2];
    c.cbrMin = Number(fields[3]);
    c.cbrMax = Number(fields[4]);
    c.fixedQualityOptions = fields[5];
}

}  // namespace telvaro
