#include "driver/psia_camera_properties.h"

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "psia/capability_text.h"
#include "psia/common_client.h"
#include "util/text.h"

namespace telvaro {

namespace {

constexpr int32_t kQueryError = 3;
constexpr uint32_t kPropertyVideoStandard = 1;
constexpr uint32_t kFirstChannelProperty = 2;
constexpr uint32_t kKindFlag = 0;
constexpr uint32_t kKindText = 1;
// Which of the host's frame-interval lists the query fills.
constexpr uint32_t kFrameIntervalList = 1;

bool ReadCamera(CCommonClient& client, CPSIACameraProperties& properties, FailureReason& failure) {
    auto fail = [&failure](FailureReason reason) {
        failure = std::move(reason);
        return false;
    };
    PsiaDeviceInfo info;
    if (!client.QueryDeviceInfo(info)) return fail(client.LastFailure());
    if (info.model.empty()) return fail({kFailureIncomplete, "GET /PSIA/System/deviceInfo: the answer names no model"});
    properties.manufacturer = "PSIA";
    properties.name = FormatText("%s %s", "PSIA", info.model.c_str());

    properties.capabilities.clear();
    std::vector<StreamingChannelSettings> channels;
    if (!client.GetStreamingChannels(channels)) return fail(client.LastFailure());
    if (channels.empty()) return fail({kFailureIncomplete, "GET /PSIA/Streaming/channels: the answer lists no channel"});
    properties.videoChannel = 1;
    // The first channel stands for the camera.
    ChannelCapabilities first;
    first.channelId = channels.front().id;
    if (!client.GetChannelCapabilities(first.channelId, first)) return fail(client.LastFailure());
    properties.capabilities.push_back(first);

    IOPortLists ports;
    if (client.GetIOPorts(ports)) {
        properties.inputCount = static_cast<uint32_t>(ports.inputs.size());
        properties.outputCount = static_cast<uint32_t>(ports.outputs.size());
    } else {
        properties.inputCount = 0;
        properties.outputCount = 0;
    }
    return true;
}

}  // namespace

CPSIACameraProperties::CPSIACameraProperties(const DEVICE_INFO& device, int32_t videoStandard)
    : CCameraPropertiesEx(device, videoStandard) {}

CPSIACameraProperties::~CPSIACameraProperties() = default;

bool CPSIACameraProperties::Query(int32_t& error) {
    CCommonClient client;
    client.SetAbortFlag(requestAbort_);
    queryFailure_ = FailureReason();
    // An abort can cut the port lists short without failing them; what was
    // read then is no answer from the camera.
    bool ok = client.Connect(device_);
    if (!ok) queryFailure_ = client.LastFailure();
    ok = ok && ReadCamera(client, *this, queryFailure_);
    if (ok && RequestAbortSet()) {
        queryFailure_ = {kFailureNoAnswer, "stopped before the port lists were read"};
        ok = false;
    }
    if (!ok) error = kQueryError;
    return ok;
}

bool CPSIACameraProperties::Save(ipcapture::ICapabilityResults* results) {
    if (capabilities.empty()) return false;

    std::set<uint32_t> offered;
    for (const ChannelCapabilities& record : capabilities) offered.insert(record.codecs.begin(), record.codecs.end());
    codecs.insert(codecs.end(), offered.begin(), offered.end());
    if (codecs.empty()) return false;

    // Every size with the highest rate of the records that offer it. Each
    // rate gets its interval, so that no size is reported with 0 ms.
    std::map<VideoResolution, uint32_t> highest;
    for (const ChannelCapabilities& record : capabilities) {
        uint32_t rate = record.frameRates.empty() ? 0 : *record.frameRates.rbegin();
        for (const VideoResolution& size : record.resolutions) {
            uint32_t& best = highest[size];
            best = std::max(best, rate);
        }
    }
    for (const auto& size : highest) {
        Resolution entry;
        entry.width = static_cast<uint16_t>(size.first.width);
        entry.height = static_cast<uint16_t>(size.first.height);
        entry.intervals.push_back(FrameInterval(size.second));
        AddResolution(entry);
    }

    ipcapture::IFrameIntervalList* list = results ? results->GetFrameIntervalList(kFrameIntervalList) : nullptr;
    std::set<uint32_t> rates;
    for (const ChannelCapabilities& record : capabilities) rates.insert(record.frameRates.begin(), record.frameRates.end());
    if (rates.empty()) return false;
    if (list) {
        const size_t defaultPosition = rates.size() / 2;
        size_t position = 0;
        for (uint32_t rate : rates) {
            list->Add(FrameInterval(rate));
            if (position++ == defaultPosition) list->SetDefault(FrameInterval(rate));
        }
    }

    if (!CCameraPropertiesEx::Save(results)) return false;

    AddProperty(results, kPropertyVideoStandard, "Video standard", videoStandard_ ? "1" : "0", kKindFlag);
    for (size_t i = 0; i < capabilities.size(); ++i) {
        AddProperty(results, kFirstChannelProperty + static_cast<uint32_t>(i),
                    FormatText("Channel %d capabilities", static_cast<int>(i)), FormatCapabilities(capabilities[i]),
                    kKindText);
    }
    return true;
}

}  // namespace telvaro
