#include "camsim/psia_xml.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cstring>
#include <set>

#include "camsim/text_util.h"

namespace camsim {
namespace psia {

namespace {

const char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string Open(const char* name) {
    return std::string("<") + name + " version=\"1.0\" xmlns=\"urn:psialliance-org\">\n";
}

std::string Element(const char* name, const std::string& value) {
    return std::string("<") + name + ">" + Escape(value) + "</" + name + ">\n";
}

std::string Element(const char* name, uint32_t value) { return Element(name, std::to_string(value)); }

std::string Flag(bool value) { return value ? "true" : "false"; }

std::string Join(const std::vector<uint32_t>& values) {
    std::string out;
    for (uint32_t v : values) out += (out.empty() ? "" : ",") + std::to_string(v);
    return out;
}

std::string ChannelBody(const ChannelConfig& c, uint16_t rtspPort) {
    std::string x;
    x += Element("id", c.id);
    x += Element("channelName", "Channel " + std::to_string(c.id));
    x += Element("enabled", Flag(c.enabled));
    x += "<Transport>\n";
    x += Element("rtspPortNo", rtspPort);
    x += "<ControlProtocolList>\n<ControlProtocol>\n";
    x += Element("streamingTransport", "RTSP");
    x += "</ControlProtocol>\n</ControlProtocolList>\n";
    x += "</Transport>\n";
    x += "<Video>\n";
    x += Element("enabled", Flag(c.videoEnabled));
    x += Element("videoInputChannelID", c.videoInputChannelId);
    x += Element("videoCodecType", CodecName(c.codec));
    x += Element("videoScanType", "progressive");
    x += Element("videoResolutionWidth", c.width);
    x += Element("videoResolutionHeight", c.height);
    x += Element("videoQualityControlType", c.qualityControlType);
    x += Element("constantBitRate", c.constantBitRate);
    x += Element("fixedQuality", c.fixedQuality);
    x += Element("maxFrameRate", c.maxFrameRate);
    x += Element("keyFrameInterval", c.keyFrameInterval);
    x += "</Video>\n";
    return x;
}

std::string PortIds(const char* list, const char* port, const std::vector<uint32_t>& ids, bool withOpen) {
    std::string x = withOpen ? Open(list) : std::string("<") + list + ">\n";
    for (uint32_t id : ids) {
        x += std::string("<") + port + ">\n" + Element("id", id);
        x += Element("ioPortType", std::strcmp(port, "IOInputPort") == 0 ? "input" : "output");
        x += std::string("</") + port + ">\n";
    }
    return x + "</" + list + ">\n";
}

// Names compare without a namespace prefix: clients may write psia:id.
const char* LocalName(const char* name) {
    const char* colon = std::strrchr(name, ':');
    return colon ? colon + 1 : name;
}

pugi::xml_node Child(pugi::xml_node parent, const char* name) {
    for (pugi::xml_node n = parent.first_child(); n; n = n.next_sibling()) {
        if (n.type() == pugi::node_element && std::strcmp(LocalName(n.name()), name) == 0) return n;
    }
    return pugi::xml_node();
}

pugi::xml_node Root(const pugi::xml_document& doc) {
    for (pugi::xml_node n = doc.first_child(); n; n = n.next_sibling()) {
        if (n.type() == pugi::node_element) return n;
    }
    return pugi::xml_node();
}

// The document element, when the body is well-formed and that element has the name.
pugi::xml_node Load(const std::string& body, pugi::xml_document& doc, const char* name, std::string& why) {
    pugi::xml_parse_result r = doc.load_buffer(body.data(), body.size());
    if (!r) {
        why = std::string("not well-formed XML: ") + r.description();
        return pugi::xml_node();
    }
    pugi::xml_node root = Root(doc);
    if (!root || std::strcmp(LocalName(root.name()), name) != 0) {
        why = std::string("the document element must be ") + name;
        return pugi::xml_node();
    }
    return root;
}

// Field readers: an absent element leaves the value; a present one must be valid.
bool ReadNumber(pugi::xml_node parent, const char* name, uint32_t lo, uint32_t hi, uint32_t& value,
                std::string& why) {
    pugi::xml_node n = Child(parent, name);
    if (!n) return true;
    uint32_t v = 0;
    if (!ParseUint(Trim(n.child_value()), v) || v < lo || v > hi) {
        why = std::string(name) + " must be a number from " + std::to_string(lo) + " to " + std::to_string(hi);
        return false;
    }
    value = v;
    return true;
}

bool ReadFlag(pugi::xml_node parent, const char* name, bool& value, std::string& why) {
    pugi::xml_node n = Child(parent, name);
    if (!n) return true;
    std::string text = Trim(n.child_value());
    if (text != "true" && text != "false") {
        why = std::string(name) + " must be true or false";
        return false;
    }
    value = text == "true";
    return true;
}

bool ReadChannelElement(pugi::xml_node sc, ChannelConfig& c, std::string& why) {
    if (!ReadFlag(sc, "enabled", c.enabled, why)) return false;
    pugi::xml_node video = Child(sc, "Video");
    if (!video) return true;
    if (!ReadFlag(video, "enabled", c.videoEnabled, why)) return false;
    if (!ReadNumber(video, "videoInputChannelID", 0, 0xFFFF, c.videoInputChannelId, why)) return false;
    if (pugi::xml_node codec = Child(video, "videoCodecType")) {
        if (!ParseCodecName(Trim(codec.child_value()), c.codec)) {
            why = "videoCodecType must be H.264, MPEG4 or MJPEG";
            return false;
        }
    }
    if (!ReadNumber(video, "videoResolutionWidth", 16, 4096, c.width, why)) return false;
    if (!ReadNumber(video, "videoResolutionHeight", 16, 4096, c.height, why)) return false;
    if (pugi::xml_node q = Child(video, "videoQualityControlType")) {
        std::string type = Trim(q.child_value());
        if (ToLower(type) != "vbr" && ToLower(type) != "cbr") {
            why = "videoQualityControlType must be CBR or VBR";
            return false;
        }
        c.qualityControlType = type;
    }
    if (!ReadNumber(video, "constantBitRate", 0, 1000000, c.constantBitRate, why)) return false;
    if (!ReadNumber(video, "fixedQuality", 0, 100, c.fixedQuality, why)) return false;
    if (!ReadNumber(video, "maxFrameRate", 1, 12000, c.maxFrameRate, why)) return false;
    if (!ReadNumber(video, "keyFrameInterval", 0, 3600000, c.keyFrameInterval, why)) return false;
    return true;
}

}  // namespace

std::string ResponseStatus(const std::string& requestUrl, int statusCode, const std::string& statusString) {
    return kDeclaration + Open("ResponseStatus") + Element("requestURL", requestUrl) +
           Element("statusCode", static_cast<uint32_t>(statusCode)) + Element("statusString", statusString) +
           "</ResponseStatus>\n";
}

std::string DeviceInfo(const CameraConfig& camera) {
    std::string x = kDeclaration + Open("DeviceInfo");
    x += Element("deviceName", camera.deviceName);
    x += Element("deviceID", "c4a95e10-0000-4000-8000-" + std::to_string(100000000000ull + camera.httpPort));
    x += Element("deviceDescription", "PSIA camera simulator");
    x += Element("deviceLocation", "loopback");
    x += Element("systemContact", "none");
    x += Element("model", camera.model);
    x += Element("serialNumber", "CS0000000001");
    x += Element("macAddress", "02:00:00:00:00:01");
    x += Element("firmwareVersion", camera.firmwareVersion);
    x += Element("firmwareReleasedDate", "2024-01-01");
    x += Element("bootVersion", "1.0");
    x += Element("hardwareVersion", "1.0");
    return x + "</DeviceInfo>\n";
}

std::string StreamingChannel(const ChannelConfig& channel, uint16_t rtspPort) {
    return kDeclaration + Open("StreamingChannel") + ChannelBody(channel, rtspPort) + "</StreamingChannel>\n";
}

std::string StreamingChannelList(const std::vector<ChannelConfig>& channels, uint16_t rtspPort) {
    std::string x = kDeclaration + Open("StreamingChannelList");
    for (const ChannelConfig& c : channels) x += "<StreamingChannel>\n" + ChannelBody(c, rtspPort) + "</StreamingChannel>\n";
    return x + "</StreamingChannelList>\n";
}

std::string Capabilities(const ChannelConfig& c, const CameraConfig& camera, const Resolutions& resolutions,
                         uint16_t rtspPort) {
    std::vector<uint32_t> widths, heights;
    for (const auto& r : resolutions) {
        widths.push_back(r.first);
        heights.push_back(r.second);
    }
    std::set<uint32_t, std::greater<uint32_t>> rates(camera.frameRateOptions.begin(), camera.frameRateOptions.end());
    rates.insert(c.maxFrameRate);
    std::string quality = camera.fixedQualityOptions.empty()
                              ? "<fixedQuality min=\"1\" max=\"100\">"
                              : "<fixedQuality opt=\"" + Escape(camera.fixedQualityOptions) + "\">";

    std::string x = kDeclaration + Open("StreamingChannel");
    x += Element("id", c.id);
    x += "<channelName min=\"0\" max=\"32\">Channel " + std::to_string(c.id) + "</channelName>\n";
    x += "<enabled opt=\"true,false\">" + Flag(c.enabled) + "</enabled>\n";
    x += "<Transport>\n";
    x += "<rtspPortNo min=\"1\" max=\"65535\">" + std::to_string(rtspPort) + "</rtspPortNo>\n";
    x += "<ControlProtocolList>\n<ControlProtocol>\n";
    x += "<streamingTransport opt=\"RTSP\">RTSP</streamingTransport>\n";
    x += "</ControlProtocol>\n</ControlProtocolList>\n";
    x += "</Transport>\n";
    x += "<Video>\n";
    x += "<enabled opt=\"true,false\">" + Flag(c.videoEnabled) + "</enabled>\n";
    x += "<videoInputChannelID opt=\"0\">" + std::to_string(c.videoInputChannelId) + "</videoInputChannelID>\n";
    x += "<videoCodecType opt=\"H.264,MPEG4,MJPEG\">" + std::string(CodecName(c.codec)) + "</videoCodecType>\n";
    x += "<videoScanType opt=\"progressive\">progressive</videoScanType>\n";
    x += "<videoResolutionWidth opt=\"" + Join(widths) + "\">" + std::to_string(c.width) + "</videoResolutionWidth>\n";
    x += "<videoResolutionHeight opt=\"" + Join(heights) + "\">" + std::to_string(c.height) +
         "</videoResolutionHeight>\n";
    x += "<videoQualityControlType opt=\"CBR,VBR\">" + Escape(c.qualityControlType) + "</videoQualityControlType>\n";
    x += "<constantBitRate min=\"" + std::to_string(camera.constantBitRateMin) + "\" max=\"" +
         std::to_string(camera.constantBitRateMax) + "\">" + std::to_string(c.constantBitRate) + "</constantBitRate>\n";
    x += quality + std::to_string(c.fixedQuality) + "</fixedQuality>\n";
    x += "<maxFrameRate opt=\"" + Join(std::vector<uint32_t>(rates.begin(), rates.end())) + "\">" +
         std::to_string(c.maxFrameRate) + "</maxFrameRate>\n";
    x += "<keyFrameInterval min=\"0\" max=\"10000\">" + std::to_string(c.keyFrameInterval) + "</keyFrameInterval>\n";
    x += "</Video>\n";
    return x + "</StreamingChannel>\n";
}

std::string IOPortList(const std::vector<uint32_t>& inputs, const std::vector<uint32_t>& outputs) {
    return kDeclaration + Open("IOPortList") + PortIds("IOInputPortList", "IOInputPort", inputs, false) +
           PortIds("IOOutputPortList", "IOOutputPort", outputs, false) + "</IOPortList>\n";
}

std::string IOInputPortList(const std::vector<uint32_t>& inputs) {
    return kDeclaration + PortIds("IOInputPortList", "IOInputPort", inputs, true);
}

std::string IOOutputPortList(const std::vector<uint32_t>& outputs) {
    return kDeclaration + PortIds("IOOutputPortList", "IOOutputPort", outputs, true);
}

std::string IOPortStatus(uint32_t id, bool input, bool active) {
    std::string x = kDeclaration + Open("IOPortStatus");
    x += Element(input ? "inputIOPortID" : "outputIOPortID", id);
    x += Element("ioPortType", input ? "input" : "output");
    x += Element("ioState", active ? "active" : "inactive");
    return x + "</IOPortStatus>\n";
}

int ReadStreamingChannel(const std::string& body, ChannelConfig& channel, std::string& why) {
    pugi::xml_document doc;
    pugi::xml_node sc = Load(body, doc, "StreamingChannel", why);
    if (!sc) return kInvalidXmlFormat;
    uint32_t id = channel.id;
    if (!ReadNumber(sc, "id", 0, 0xFFFFFFFF, id, why)) return kInvalidXmlContent;
    if (id != channel.id) {
        why = "id does not match the resource";
        return kInvalidXmlContent;
    }
    ChannelConfig changed = channel;
    if (!ReadChannelElement(sc, changed, why)) return kInvalidXmlContent;
    channel = changed;
    return kOk;
}

int ReadStreamingChannelList(const std::string& body, std::vector<ChannelConfig>& channels,
                             std::vector<uint32_t>& changed, std::string& why) {
    pugi::xml_document doc;
    pugi::xml_node list = Load(body, doc, "StreamingChannelList", why);
    if (!list) return kInvalidXmlFormat;
    std::vector<ChannelConfig> result = channels;
    changed.clear();
    for (pugi::xml_node sc = list.first_child(); sc; sc = sc.next_sibling()) {
        if (sc.type() != pugi::node_element || std::strcmp(LocalName(sc.name()), "StreamingChannel") != 0) continue;
        uint32_t id = 0;
        if (!Child(sc, "id") || !ReadNumber(sc, "id", 0, 0xFFFFFFFF, id, why)) {
            if (why.empty()) why = "a StreamingChannel without id";
            return kInvalidXmlContent;
        }
        if (std::find(changed.begin(), changed.end(), id) != changed.end()) continue;
        auto it = std::find_if(result.begin(), result.end(), [id](const ChannelConfig& c) { return c.id == id; });
        if (it == result.end()) continue;
        if (!ReadChannelElement(sc, *it, why)) return kInvalidXmlContent;
        changed.push_back(id);
    }
    if (changed.empty()) {
        why = "no known channel in the list";
        return kInvalidXmlContent;
    }
    channels = result;
    return kOk;
}

int ReadIOPortData(const std::string& body, bool& high, std::string& why) {
    pugi::xml_document doc;
    pugi::xml_node root = Load(body, doc, "IOPortData", why);
    if (!root) return kInvalidXmlFormat;
    pugi::xml_node state = Child(root, "outputState");
    std::string text = state ? Trim(state.child_value()) : std::string();
    if (text != "high" && text != "low") {
        why = "outputState must be high or low";
        return kInvalidXmlContent;
    }
    high = text == "high";
    return kOk;
}

}  // namespace psia
}  // namespace camsim
