#include "channel/common_channel_rtsp.h"

#include <cmath>
#include <set>

#include "psia/capability_text.h"
#include "psia/common_client.h"
#include "util/text.h"

namespace telvaro {

CCommonChannelRTSP::CCommonChannelRTSP(IDriver* driver, uint32_t channelNumber, ipcapture::IStreamSink* sink)
    : CBaseRTSPChannel(driver, channelNumber, sink) {}

CCommonChannelRTSP::~CCommonChannelRTSP() { Stop(); }

void CCommonChannelRTSP::InstallParser(CRTPMediaParser* parser) {
    mediaParser_.reset(parser);
    if (mediaParser_) mediaParser_->SetClient(this);
}

void CCommonChannelRTSP::OnVideoPacket(const RTPPacket* packet) {
    if (mediaParser_) mediaParser_->OnPacket(packet);
}

ChannelCapabilities CCommonChannelRTSP::ReadCapabilities() {
    ChannelCapabilities capabilities;
    ParseCapabilityText(driver_->GetParameterText(static_cast<int32_t>(channelNumber_ + 2)), capabilities);
    return capabilities;
}

namespace {

// A decimal number of at most ten digits within 0 .. max, without sign.
bool ReadBounded(const std::string& text, uint32_t max, uint32_t& value) {
    const std::string digits = TrimBlanks(text);
    if (digits.empty() || digits.size() > 10 || digits.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const uint64_t number = std::stoull(digits);
    if (number > max) return false;
    value = static_cast<uint32_t>(number);
    return true;
}

}  // namespace

bool CCommonChannelRTSP::AcceptsSettings(const CHANNEL_PARAMS& params) {
    std::string refusal;
    if (params.width == 0 || params.width > kMaxPictureSide) {
        refusal = FormatText("width %u is outside 1 to %u", static_cast<unsigned>(params.width),
                             static_cast<unsigned>(kMaxPictureSide));
    } else if (params.height == 0 || params.height > kMaxPictureSide) {
        refusal = FormatText("height %u is outside 1 to %u", static_cast<unsigned>(params.height),
                             static_cast<unsigned>(kMaxPictureSide));
    }
    // A text of other than six fields stands for the defaults (channel 0,
    // port 554); one of six must name a channel and a port that fit.
    const std::vector<std::string> fields =
        SplitText(driver_->GetParameterText(static_cast<int32_t>(channelNumber_ + 2)), ';');
    uint32_t number = 0;
    if (refusal.empty() && fields.size() == 6 && !ReadBounded(fields[0], 0x7FFFFFFF, number)) {
        refusal = "the capability text's channel id is not a number from 0 to 2147483647";
    } else if (refusal.empty() && fields.size() == 6 && (!ReadBounded(fields[1], 65535, number) || number == 0)) {
        refusal = "the capability text's RTSP port is not a number from 1 to 65535";
    }
    if (refusal.empty()) return true;
    driver_->DebugMessage(kMessageFailure, "%s: %s", "telvaro::CCommonChannelRTSP::Start", refusal.c_str());
    return false;
}

uint32_t CCommonChannelRTSP::MaxFrameRateFor(uint32_t frameInterval) {
    if (frameInterval == 0) return 100;
    return 100 * static_cast<uint32_t>(std::floor(1000.0 / frameInterval + 0.5));
}

uint32_t CCommonChannelRTSP::PickFixedQuality(const std::string& options, uint32_t quality) {
    std::set<int32_t> offered;
    for (const std::string& piece : SplitText(options, ',')) {
        int32_t value = 0;
        if (ParseDecimal(TrimBlanks(piece), value) && value != 0) offered.insert(value);
    }
    if (offered.empty()) return 0;
    const double lo = *offered.begin();
    const double hi = *offered.rbegin();
    double target = lo + (hi - lo) * quality / 100.0;
    if (target < lo) target = lo;
    if (target > hi) target = hi;
    // The nearest offer wins (the smaller one on a tie), unless every offer
    // lies 1000 or more away: then the target itself.
    int64_t result = static_cast<int64_t>(target);
    double best = 1000;
    for (int32_t value : offered) {
        double distance = std::fabs(value - target);
        if (distance < best) {
            best = distance;
            result = value;
        }
    }
    return static_cast<uint32_t>(result);
}

StreamingChannelSettings CCommonChannelRTSP::WantedSettings(const ChannelCapabilities& capabilities) {
    StreamingChannelSettings wanted;
    wanted.id = capabilities.channelId;
    wanted.enabled = true;
    wanted.videoEnabled = true;
    wanted.videoInputChannelID = 0;
    wanted.videoCodecType = GetCodecName();
    wanted.videoResolutionWidth = params_.width;
    wanted.videoResolutionHeight = params_.height;
    wanted.videoQualityControlType = "VBR";
    wanted.constantBitRate = capabilities.cbrMax;
    wanted.fixedQuality = PickFixedQuality(capabilities.fixedQualityOptions, params_.quality);
    wanted.maxFrameRate = MaxFrameRateFor(params_.frameInterval);
    wanted.keyFrameInterval = 1000;
    return wanted;
}

bool CCommonChannelRTSP::Configure() {
    const ChannelCapabilities capabilities = ReadCapabilities();
    CCommonClient client;
    // A stop of the channel ends the camera exchange at once, whatever pace
    // the camera answers at.
    client.SetAbortFlag(&stopRequested_);
    if (!client.Connect(driver_->GetDeviceInfo())) {
        NoteAttemptFailure(client.LastFailure());
        return false;
    }
    const StreamingChannelSettings wanted = WantedSettings(capabilities);
    StreamingChannelSettings current;
    if (!client.GetStreamingChannel(capabilities.channelId, current)) {
        NoteAttemptFailure(client.LastFailure());
        return false;
    }
    // Bit rate and key-frame interval are left as the camera has them.
    const bool differs = current.id != wanted.id || current.enabled != wanted.enabled ||
                         current.videoEnabled != wanted.videoEnabled ||
                         current.videoInputChannelID != wanted.videoInputChannelID ||
                         current.videoCodecType != wanted.videoCodecType ||
                         current.videoQualityControlType != wanted.videoQualityControlType ||
                         current.fixedQuality != wanted.fixedQuality || current.maxFrameRate != wanted.maxFrameRate ||
                         current.videoResolutionWidth != wanted.videoResolutionWidth ||
                         current.videoResolutionHeight != wanted.videoResolutionHeight;
    // A refused change does not stop the attempt: the session then runs with
    // whatever the camera has.
    if (differs) client.SetStreamingChannel(wanted);
    return true;
}

void CCommonChannelRTSP::PrepareSession(RtspParams& params) {
    const ChannelCapabilities capabilities = ReadCapabilities();
    params.serverPort = static_cast<uint16_t>(capabilities.rtspPort & 0xFFFF);
    params.urlPath = FormatText("/PSIA/Streaming/channels/%u?videoCodecType=%s", capabilities.channelId,
                                GetCodecName().c_str());
}

}  // namespace telvaro
