#include "psia/psia_parsers.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "platform/thread_cancel.h"
#include "util/text.h"
#include "psia/xml_parser.h"

namespace telvaro {

namespace {

// A range given by min and max attributes is expanded to at most this many
// values, so that a hostile or broken camera cannot make the driver build a
// list of billions of entries.
constexpr uint32_t kMaxRangeValues = 1000;

constexpr uint32_t kDefaultQualityMin = 1;
constexpr uint32_t kDefaultQualityMax = 100;

// Loads the body, lets read query it and unloads it. False when the body is
// not well-formed XML or a query fails; read fills its results only after
// its last query, so a failure leaves the caller's record alone.
template <typename Read>
bool ReadDocument(std::string_view body, Read read) {
    try {
        std::unique_ptr<CXMLParser> parser = CXMLParser::ParseDocument(body);
        if (!parser) return false;
        bool result = read(*parser);
        parser->Unload();
        return result;
    } catch (...) {
        platform::SwallowUnlessCancelled();
        return false;
    }
}

uint32_t Number(const std::string& text) {
    int32_t value = 0;
    ParseDecimal(text, value);
    return static_cast<uint32_t>(value);
}

uint32_t NumberAt(CXMLParser& parser, const std::string& path) { return Number(parser.NodeText(path)); }

bool FlagAt(CXMLParser& parser, const std::string& path) { return parser.NodeText(path) == "true"; }

// The leading decimal number of an option item, read as atoi reads it
// (leading white space and a sign allowed, anything after the digits
// ignored). No number, or a negative one, counts as not offered: 0.
uint32_t OptionNumber(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT32_MAX) value = INT32_MAX;  // atoi saturates
    }
    return negative ? 0 : static_cast<uint32_t>(value);
}

// A min or max attribute: ParseDecimal, with a negative value counting as 0.
uint32_t RangeBound(CXMLParser& parser, const std::string& path, const char* name) {
    int32_t value = 0;
    ParseDecimal(parser.NodeAttribute(path, name), value);
    return value > 0 ? static_cast<uint32_t>(value) : 0;
}

uint32_t CodecCode(const std::string& name) {
    if (name == "H.264") return kCodecH264;
    if (name == "MPEG4") return kCodecMpeg4;
    if (name == "MJPEG" || name == "JPEG") return kCodecJpeg;
    return 0;
}

std::string FixedQualityOptions(CXMLParser& parser) {
    const std::string path = "StreamingChannel/Video/fixedQuality";
    std::string options = parser.NodeAttribute(path, "opt");
    if (!options.empty()) return options;
    uint32_t low = RangeBound(parser, path, "min");
    uint32_t high = RangeBound(parser, path, "max");
    if (low == 0) low = kDefaultQualityMin;
    if (high == 0) high = kDefaultQualityMax;
    if (low > high) return FormatText("%u", low);
    if (high - low >= kMaxRangeValues) high = low + kMaxRangeValues - 1;
    std::string list;
    for (uint32_t value = low; value <= high; ++value) {
        if (!list.empty()) list += ",";
        list += FormatText("%u", value);
    }
    return list;
}

std::vector<uint32_t> Codecs(CXMLParser& parser) {
    std::vector<uint32_t> codecs;
    for (const std::string& item : SplitText(parser.NodeAttribute("StreamingChannel/Video/videoCodecType", "opt"), ',')) {
        uint32_t code = CodecCode(item);
        if (code != 0) codecs.push_back(code);
    }
    return codecs;
}

// Widths and heights are listed apart; the i-th of each make a pair, and the
// shorter list goes on with its last item.
std::vector<VideoResolution> Resolutions(CXMLParser& parser) {
    std::vector<std::string> widths =
        SplitText(parser.NodeAttribute("StreamingChannel/Video/videoResolutionWidth", "opt"), ',');
    std::vector<std::string> heights =
        SplitText(parser.NodeAttribute("StreamingChannel/Video/videoResolutionHeight", "opt"), ',');
    std::vector<VideoResolution> resolutions;
    if (widths.empty() || heights.empty()) return resolutions;
    size_t count = std::max(widths.size(), heights.size());
    for (size_t i = 0; i < count; ++i) {
        VideoResolution r;
        r.width = OptionNumber(widths[std::min(i, widths.size() - 1)]);
        r.height = OptionNumber(heights[std::min(i, heights.size() - 1)]);
        if (r.width != 0 && r.height != 0) resolutions.push_back(r);
    }
    return resolutions;
}

// Whole frames per second, from the offered rates (x 100) or from their range.
std::set<uint32_t> FrameRates(CXMLParser& parser) {
    const std::string path = "StreamingChannel/Video/maxFrameRate";
    std::set<uint32_t> rates;
    std::string options = parser.NodeAttribute(path, "opt");
    if (!options.empty()) {
        for (const std::string& item : SplitText(options, ',')) {
            uint32_t rate = OptionNumber(item) / 100;
            if (rate != 0) rates.insert(rate);
        }
        return rates;
    }
    uint32_t low = RangeBound(parser, path, "min") / 100;
    uint32_t high = RangeBound(parser, path, "max") / 100;
    if (low == 0 || high == 0 || high < low) return rates;
    if (high - low >= kMaxRangeValues) high = low + kMaxRangeValues - 1;
    for (uint32_t rate = low; rate <= high; ++rate) rates.insert(rate);
    return rates;
}

std::vector<uint32_t> Numbers(const std::vector<std::string>& texts) {
    std::vector<uint32_t> numbers;
    numbers.reserve(texts.size());
    for (const std::string& text : texts) numbers.push_back(Number(text));
    return numbers;
}

}  // namespace

bool ParseStreamingChannel(std::string_view body, StreamingChannelSettings& settings) {
    return ReadDocument(body, [&settings](CXMLParser& p) {
        StreamingChannelSettings s;
        s.id = NumberAt(p, "StreamingChannel/id");
        s.enabled = FlagAt(p, "StreamingChannel/enabled");
        s.videoEnabled = FlagAt(p, "StreamingChannel/Video/enabled");
        s.videoInputChannelID = NumberAt(p, "StreamingChannel/Video/videoInputChannelID");
        s.videoCodecType = p.NodeText("StreamingChannel/Video/videoCodecType");
        s.videoResolutionWidth = NumberAt(p, "StreamingChannel/Video/videoResolutionWidth");
        s.videoResolutionHeight = NumberAt(p, "StreamingChannel/Video/videoResolutionHeight");
        s.videoQualityControlType = p.NodeText("StreamingChannel/Video/videoQualityControlType");
        s.constantBitRate = NumberAt(p, "StreamingChannel/Video/constantBitRate");
        s.fixedQuality = NumberAt(p, "StreamingChannel/Video/fixedQuality");
        s.maxFrameRate = NumberAt(p, "StreamingChannel/Video/maxFrameRate");
        s.keyFrameInterval = NumberAt(p, "StreamingChannel/Video/keyFrameInterval");
        settings = std::move(s);
        return true;
    });
}

bool ParseStreamingChannelList(std::string_view body, std::vector<StreamingChannelSettings>& channels) {
    return ReadDocument(body, [&channels](CXMLParser& p) {
        std::vector<StreamingChannelSettings> list;
        for (const std::string& id : p.NodeTexts("StreamingChannelList/StreamingChannel/id")) {
            list.push_back(StreamingChannelSettings::ListEntry(Number(id)));
        }
        channels.swap(list);
        return true;
    });
}

bool ParseCapabilities(std::string_view body, ChannelCapabilities& capabilities) {
    return ReadDocument(body, [&capabilities](CXMLParser& p) {
        ChannelCapabilities c = capabilities;
        c.rtspPort = NumberAt(p, "StreamingChannel/Transport/rtspPortNo");
        if (c.rtspPort == 0) c.rtspPort = kDefaultRtspPort;
        c.qualityControlTypes = p.NodeAttribute("StreamingChannel/Video/videoQualityControlType", "opt");
        c.cbrMin = Number(p.NodeAttribute("StreamingChannel/Video/constantBitRate", "min"));
        c.cbrMax = Number(p.NodeAttribute("StreamingChannel/Video/constantBitRate", "max"));
        c.fixedQualityOptions = FixedQualityOptions(p);

        bool complete = false;
        c.codecs = Codecs(p);
        if (!c.codecs.empty()) {
            c.resolutions = Resolutions(p);
            if (!c.resolutions.empty()) {
                c.frameRates = FrameRates(p);
                complete = !c.frameRates.empty();
            }
        }
        capabilities = std::move(c);
        return complete;
    });
}

bool ParseDeviceInfo(std::string_view body, PsiaDeviceInfo& info) {
    return ReadDocument(body, [&info](CXMLParser& p) {
        PsiaDeviceInfo i;
        i.deviceName = p.NodeText("DeviceInfo/deviceName");
        i.deviceID = p.NodeText("DeviceInfo/deviceID");
        i.model = p.NodeText("DeviceInfo/model");
        i.macAddress = p.NodeText("DeviceInfo/macAddress");
        i.firmwareVersion = p.NodeText("DeviceInfo/firmwareVersion");
        info = std::move(i);
        return true;
    });
}

bool ParseResponseStatus(std::string_view body, ResponseStatus& status) {
    return ReadDocument(body, [&status](CXMLParser& p) {
        ResponseStatus s;
        ParseDecimal(p.NodeText("ResponseStatus/statusCode"), s.statusCode);
        s.statusString = p.NodeText("ResponseStatus/statusString");
        status = std::move(s);
        return true;
    });
}

bool ParseIOPortStatus(std::string_view body, bool& inactive) {
    return ReadDocument(body, [&inactive](CXMLParser& p) {
        inactive = p.NodeText("IOPortStatus/ioState") == "inactive";
        return true;
    });
}

bool ParseIOPortList(std::string_view body, IOPortLists& ports) {
    ports.inputs.clear();
    ports.outputs.clear();
    return ReadDocument(body, [&ports](CXMLParser& p) {
        std::vector<uint32_t> inputs = Numbers(p.NodeTexts("IOPortList/IOInputPortList/IOInputPort/id"));
        std::vector<uint32_t> outputs = Numbers(p.NodeTexts("IOPortList/IOOutputPortList/IOOutputPort/id"));
        ports.inputs.swap(inputs);
        ports.outputs.swap(outputs);
        return true;
    });
}

bool ParseIOInputPortList(std::string_view body, IOPortLists& ports) {
    ports.inputs.clear();
    return ReadDocument(body, [&ports](CXMLParser& p) {
        ports.inputs = Numbers(p.NodeTexts("IOInputPortList/IOInputPort/id"));
        return true;
    });
}

bool ParseIOOutputPortList(std::string_view body, IOPortLists& ports) {
    ports.outputs.clear();
    return ReadDocument(body, [&ports](CXMLParser& p) {
        ports.outputs = Numbers(p.NodeTexts("IOOutputPortList/IOOutputPort/id"));
        return true;
    });
}

}  // namespace telvaro
