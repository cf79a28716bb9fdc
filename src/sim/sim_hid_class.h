// The HID class seam on the virtual bus.
#pragma once

#include "platform/hid_class.h"
#include "sim/virtual_bus.h"

namespace torvane::sim {

class SimHidClass final : public HidClass {
public:
    explicit SimHidClass(VirtualBus& bus) : bus_(bus) {}

    Guid HidGuid() override { return kHidClassGuid; }
    bool GetAttributes(DeviceHandle handle, HidAttributes& attributes) override {
        return bus_.GetAttributes(handle, attributes);
    }
    bool GetSerialNumber(DeviceHandle handle, std::string& serial) override {
        return bus_.GetSerialNumber(handle, serial);
    }
    bool GetCaps(DeviceHandle handle, HidCaps& caps) override { return bus_.GetCaps(handle, caps); }
    bool SetOutputReport(DeviceHandle handle, std::span<const std::uint8_t> report,
                         SystemError& error) override {
        return bus_.SetOutputReport(handle, report, error);
    }
    bool GetInputReport(DeviceHandle handle, std::span<std::uint8_t> report,
                        SystemError& error) override {
        return bus_.GetInputReport(handle, report, error);
    }

private:
    VirtualBus& bus_;
};

}  // namespace torvane::sim
