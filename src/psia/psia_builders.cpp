#include "psia/psia_builders.h"

#include "util/text.h"

namespace telvaro {

namespace {

const char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>";

const char kTransport[] =
    "<Transport><ControlProtocolList><ControlProtocol><streamingTransport>RTSP</streamingTransport>"
    "</ControlProtocol></ControlProtocolList></Transport>";

// Closes the Video element and the channel.
const char kAudioAndEnd[] =
    "</Video><Audio><enabled>false</enabled><audioInputChannelID>0</audioInputChannelID>"
    "<audioCompressionType>G.711ulaw</audioCompressionType></Audio></StreamingChannel>";

// The channel the list always carries besides the one being set.
const char kFixedMjpegChannel[] =
    "<StreamingChannel><id>1</id><channelName>MJPEG channel</channelName><enabled>true</enabled>";
const char kFixedMjpegVideo[] =
    "<Video><enabled>false</enabled><videoInputChannelID>0</videoInputChannelID>"
    "<videoCodecType>MJPEG</videoCodecType><videoResolutionWidth>320</videoResolutionWidth>"
    "<videoResolutionHeight>192</videoResolutionHeight><videoQualityControlType>VBR</videoQualityControlType>"
    "<fixedQuality>50</fixedQuality><vbrUpperCap>1000</vbrUpperCap><vbrLowerCap>0</vbrLowerCap>"
    "<maxFrameRate>100</maxFrameRate><keyFrameInterval>66</keyFrameInterval>";

// Widths up to CIF get the lower variable bit-rate ceiling.
constexpr uint32_t kSmallPictureWidth = 352;
constexpr uint32_t kSmallPictureUpperCap = 1500;
constexpr uint32_t kLargePictureUpperCap = 3000;
// Key frames in the list document come every 33 frames per whole frame rate.
constexpr uint32_t kKeyFramesPerRate = 33;

const char* Flag(bool value) { return value ? "true" : "false"; }

// The opening of the Video element that both channel documents share, up to
// the quality control type.
std::string VideoHead(const StreamingChannelSettings& s) {
    std::string xml = "<Video>";
    xml += FormatText("<enabled>%s</enabled>", Flag(s.videoEnabled));
    xml += FormatText("<videoInputChannelID>%u</videoInputChannelID>", s.videoInputChannelID);
    xml += "<videoCodecType>" + s.videoCodecType + "</videoCodecType>";
    xml += FormatText("<videoResolutionWidth>%u</videoResolutionWidth>", s.videoResolutionWidth);
    xml += FormatText("<videoResolutionHeight>%u</videoResolutionHeight>", s.videoResolutionHeight);
    xml += "<videoQualityControlType>" + s.videoQualityControlType + "</videoQualityControlType>";
    return xml;
}

}  // namespace

std::string BuildStreamingChannel(const StreamingChannelSettings& s) {
    std::string xml = kDeclaration;
    xml += "<StreamingChannel version=\"1.0\" xmlns=\"urn:psialliance-org\">";
    xml += FormatText("<id>%u</id>", s.id);
    xml += FormatText("<enabled>%s</enabled>", Flag(s.enabled));
    xml += VideoHead(s);
    xml += FormatText("<constantBitRate>%u</constantBitRate>", s.constantBitRate);
    xml += FormatText("<fixedQuality>%u</fixedQuality>", s.fixedQuality);
    xml += FormatText("<maxFrameRate>%u</maxFrameRate>", s.maxFrameRate);
    xml += FormatText("<keyFrameInterval>%u</keyFrameInterval>", s.keyFrameInterval);
    xml += "</Video>";
    xml += "</StreamingChannel>";
    return xml;
}

std::string BuildStreamingChannelList(const StreamingChannelSettings& s) {
    std::string xml = kDeclaration;
    xml += "<StreamingChannelList version=\"1.0\" xmlns=\"urn:psialliance-org\">";
    xml += "<StreamingChannel>";
    xml += FormatText("<id>%u</id>", s.id);
    xml += "<channelName>H.264 channel</channelName>";
    xml += FormatText("<enabled>%s</enabled>", Flag(s.enabled));
    xml += kTransport;
    xml += VideoHead(s);
    xml += FormatText("<fixedQuality>%u</fixedQuality>", s.fixedQuality);
    uint32_t upperCap = s.videoResolutionWidth <= kSmallPictureWidth ? kSmallPictureUpperCap : kLargePictureUpperCap;
    xml += FormatText("<vbrUpperCap>%u</vbrUpperCap>", upperCap);
    xml += "<vbrLowerCap>0</vbrLowerCap>";
    xml += FormatText("<maxFrameRate>%u</maxFrameRate>", s.maxFrameRate);
    xml += FormatText("<keyFrameInterval>%u</keyFrameInterval>", s.maxFrameRate / 100 * kKeyFramesPerRate);
    xml += kAudioAndEnd;
    xml += kFixedMjpegChannel;
    xml += kTransport;
    xml += kFixedMjpegVideo;
    xml += kAudioAndEnd;
    xml += "</StreamingChannelList>";
    return xml;
}

std::string BuildIOPortData(bool high) {
    std::string xml = kDeclaration;
    xml += "<IOPortData xmlns=\"urn:psialliance-org\">";
    xml += FormatText("<outputState>%s</outputState>", high ? "high" : "low");
    xml += "</IOPortData>";
    return xml;
}

}  // namespace telvaro
