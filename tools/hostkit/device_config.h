// A host's description of one device: model part, connection part and the
// free-form parameters, as plain settable fields.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "ombrelix/host.h"

namespace hostkit {

class ModelInfo final : public telvaro::ipcapture::IDeviceModelInfo {
    OMBRELIX_DESTRUCTOR_SLOT(ModelInfo)
public:
    const char* GetModelText() override { return model.c_str(); }
    uint32_t GetChannelCount() override { return channels; }
    uint32_t GetInputCount() override { return inputs; }
    uint32_t GetOutputCount() override { return outputs; }

    std::string model = "PSIA";
    uint32_t channels = 1;
    uint32_t inputs = 0;
    uint32_t outputs = 0;
};

class Connection final : public telvaro::ipcapture::IDeviceConnection {
    OMBRELIX_DESTRUCTOR_SLOT(Connection)
public:
    const char* GetAddress() override { return address.c_str(); }
    uint16_t GetPort() override { return port; }
    int32_t GetCodecType() override { return codec; }
    const char* GetUserName() override { return user.c_str(); }
    const char* GetPassword() override { return password.c_str(); }

    std::string address = "127.0.0.1";
    uint16_t port = 80;
    int32_t codec = telvaro::ipcapture::kCodecH264;
    std::string user;
    std::string password;
};

// Parameter 1 is "0" unless set otherwise (the driver requires an integer).
class DeviceConfig : public telvaro::ipcapture::IDeviceConfig {
    OMBRELIX_DESTRUCTOR_SLOT(DeviceConfig)
public:
    DeviceConfig() { parameters[1] = "0"; }
    // Tests derive their own.
    virtual ~DeviceConfig() = default;
    telvaro::ipcapture::IDeviceModelInfo* GetModelInfo() override { return &model; }
    telvaro::ipcapture::IDeviceConnection* GetConnection() override { return &connection; }
    const char* GetParameter(int32_t index) override;

    ModelInfo model;
    Connection connection;
    std::map<int32_t, std::string> parameters;
};

}  // namespace hostkit
