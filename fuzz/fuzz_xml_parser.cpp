// Arbitrary bytes as an HTTP response body: parsed as a document and queried
// with the paths the PSIA documents are read by.
#include <cstddef>
#include <cstdint>
#include <string>

#include "psia/xml_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    auto parser = telvaro::CXMLParser::ParseDocument(text);
    if (!parser) return 0;
    static const char* const kPaths[] = {
        "StreamingChannel/id",
        "StreamingChannel/Video/videoCodecType",
        "StreamingChannelList/StreamingChannel/id",
        "ResponseStatus/statusCode",
        "IOPortList/IOInputPortList/IOInputPort/id",
        "Configuration/Device[@address=\"10.0.0.1\"][@port=\"80\"]/VideoChannel[@id=\"0\"]/RTPMode",
        "Configuration/Device/VideoChannel",
        "*/*",
    };
    for (const char* path : kPaths) {
        parser->NodeExists(path);
        parser->NodeText(path);
        parser->NodeTexts(path);
        parser->NodeAttribute(path, "opt");
        parser->NodeAttribute(path, "min");
    }
    parser->Unload();
    return 0;
}
