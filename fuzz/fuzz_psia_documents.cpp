// Arbitrary bytes as a camera's answer: read by every PSIA document parser
// and as a capability text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "psia/capability_text.h"
#include "psia/psia_parsers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace telvaro;
    std::string body(reinterpret_cast<const char*>(data), size);

    StreamingChannelSettings settings;
    ParseStreamingChannel(body, settings);
    std::vector<StreamingChannelSettings> channels;
    ParseStreamingChannelList(body, channels);
    ChannelCapabilities capabilities;
    ParseCapabilities(body, capabilities);
    // Whatever was read goes through its text form as the capability query hands it on.
    ChannelCapabilities reread;
    ParseCapabilityText(FormatCapabilities(capabilities), reread);
    PsiaDeviceInfo info;
    ParseDeviceInfo(body, info);
    ResponseStatus status;
    ParseResponseStatus(body, status);
    bool inactive = false;
    ParseIOPortStatus(body, inactive);
    IOPortLists ports;
    ParseIOPortList(body, ports);
    ParseIOInputPortList(body, ports);
    ParseIOOutputPortList(body, ports);
    ChannelCapabilities fromText;
    ParseCapabilityText(body, fromText);
    return 0;
}
