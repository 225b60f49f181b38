#include "driver/camera_properties_ex.h"

#include "util/text.h"

namespace telvaro {

namespace {

// Value keys of the result object.
constexpr uint32_t kKeyVideoChannel = 0;
constexpr uint32_t kKeyInputs = 2;
constexpr uint32_t kKeyOutputs = 3;
constexpr uint32_t kKeyMpeg4 = 6;
constexpr uint32_t kKeyJpeg = 7;
constexpr uint32_t kKeyH264 = 8;
// Keys of the feature flags, in field order; the first three are sent only
// when set, the last two always.
constexpr uint32_t kFeatureKeys[5] = {4, 1, 5, 11, 12};
constexpr size_t kFeaturesSentWhenSet = 3;

// Connection fields of the result object.
constexpr uint32_t kFieldAddress = 1;
constexpr uint32_t kFieldPort = 2;
constexpr uint32_t kFieldUserName = 3;
constexpr uint32_t kFieldPassword = 4;

void SetField(ipcapture::ICapabilityResults* results, uint32_t field, const std::string& text) {
    if (ipcapture::ITextField* target = results->GetConnectionField(field)) target->SetText(text.c_str());
}

}  // namespace

CCameraPropertiesEx::CCameraPropertiesEx(const DEVICE_INFO& device, int32_t videoStandard)
    : device_(device), videoStandard_(videoStandard) {}

CCameraPropertiesEx::~CCameraPropertiesEx() = default;

void CCameraPropertiesEx::Terminate() { abort_ = true; }

bool CCameraPropertiesEx::Save(ipcapture::ICapabilityResults* results) {
    if (!results) return false;
    results->SetName(name.c_str());

    results->SetValue(kKeyVideoChannel, videoChannel);
    if (inputCount != 0) results->SetValue(kKeyInputs, inputCount);
    if (outputCount != 0) results->SetValue(kKeyOutputs, outputCount);

    for (size_t i = 0; i < kFeaturesSentWhenSet; ++i) {
        if (features[i]) results->SetValue(kFeatureKeys[i], 1);
    }
    for (size_t i = kFeaturesSentWhenSet; i < 5; ++i) results->SetValue(kFeatureKeys[i], features[i] ? 1 : 0);

    // Codes 1 and 2 both stand for JPEG.
    for (uint32_t codec : codecs) {
        if (codec == 0) break;
        switch (codec) {
            case 1:
            case 2:
                results->SetValue(kKeyJpeg, 1);
                break;
            case 4:
                results->SetValue(kKeyMpeg4, 1);
                break;
            case 16:
                results->SetValue(kKeyH264, 1);
                break;
            default:
                break;
        }
    }

    if (ipcapture::IResolutionList* list = results->GetResolutionList()) {
        for (const Resolution& entry : resolutions) {
            list->Add(FormatText("%ux%u", entry.width, entry.height).c_str(), entry.width, entry.height,
                      entry.intervals.empty() ? 0 : entry.intervals.front());
        }
    }

    SetField(results, kFieldAddress, device_.address);
    SetField(results, kFieldPort, FormatText("%d", device_.port));
    SetField(results, kFieldUserName, device_.userName);
    SetField(results, kFieldPassword, device_.password);
    return true;
}

void CCameraPropertiesEx::AddProperty(ipcapture::ICapabilityResults* results, uint32_t index,
                                      const std::string& name, const std::string& value, uint32_t kind) {
    if (!results || name.empty()) return;
    ipcapture::IProperty* property = results->GetProperty(index);
    if (!property) return;
    property->SetName(name.c_str());
    property->SetReserved(0);
    property->SetKind(kind);
    property->SetValue(value.empty() ? "(none)" : value.c_str());
}

}  // namespace telvaro
