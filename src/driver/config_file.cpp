#include "driver/config_file.h"

#include "util/text.h"
#include "psia/xml_parser.h"

namespace telvaro {

namespace {

// The address goes into a double-quoted XPath literal; a quote (or a zero
// byte, which would cut the expression short) would change what the path
// means, so such an address never selects a device of its own.
bool FitsInPathLiteral(const std::string& text) {
    return text.find('"') == std::string::npos && text.find('\0') == std::string::npos;
}

}  // namespace

TransportMode GetRtpMode(const DEVICE_INFO& device, uint32_t channel, const std::string& driverName) {
    TransportMode mode = kRtpOverUdp;
    CXMLParser parser;
    if (!parser.LoadFile(driverName + ".xml")) return mode;

    std::string chosen;
    if (FitsInPathLiteral(device.address)) {
        const unsigned port = device.port;
        std::string path = FormatText("Configuration/Device[@address=\"%s\"][@port=\"%u\"]/VideoChannel[@id=\"%u\"]",
                                      device.address.c_str(), port, channel);
        if (parser.NodeExists(path)) {
            chosen = path;
        } else {
            path = FormatText("Configuration/Device[@address=\"%s\"][@port=\"%u\"]/VideoChannel",
                              device.address.c_str(), port);
            if (parser.NodeExists(path)) chosen = path;
        }
    }
    if (chosen.empty()) {
        std::string path = FormatText("Configuration/Device/VideoChannel[@id=\"%u\"]", channel);
        chosen = parser.NodeExists(path) ? path : std::string("Configuration/Device/VideoChannel");
    }

    std::string text = parser.NodeText(chosen + "/RTPMode");
    if (text == "RTPoverUDP") {
        mode = kRtpOverUdp;
    } else if (text == "RTPoverTCP") {
        mode = kRtpOverTcp;
    } else if (text == "RTPoverRTSP") {
        mode = kRtpOverRtsp;
    }
    parser.Unload();
    return mode;
}

}  // namespace telvaro
