// HID class seam: what the program needs of the HID class driver, on an open interface handle.
#pragma once

#include <cstdint>
#include <span>

#include "platform/types.h"

namespace torvane {

struct HidAttributes {
    std::uint32_t size = 0;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t versionNumber = 0;
};

// Report lengths include the report ID byte, as the HID class reports them.
struct HidCaps {
    std::uint16_t usage = 0;
    std::uint16_t usagePage = 0;
    std::uint16_t inputReportByteLength = 0;
    std::uint16_t outputReportByteLength = 0;
    std::uint16_t featureReportByteLength = 0;
};

class HidClass {
public:
    virtual ~HidClass() = default;
    // The device interface class GUID of HID interfaces.
    virtual Guid HidGuid() = 0;
    // Vendor ID, product ID and version of the interface; false when the driver refuses.
    virtual bool GetAttributes(DeviceHandle handle, HidAttributes& attributes) = 0;
    // Report capabilities of the interface; the parsed descriptor lives only inside the call.
    virtual bool GetCaps(DeviceHandle handle, HidCaps& caps) = 0;
    // Sends one output report over the control pipe; report[0] is the report ID. False and the
    // system's error when the transfer failed.
    virtual bool SetOutputReport(DeviceHandle handle, std::span<const std::uint8_t> report,
                                 SystemError& error) = 0;
    // Reads one input report over the control pipe; report[0] names the report ID on entry.
    // False and the system's error when the transfer failed.
    virtual bool GetInputReport(DeviceHandle handle, std::span<std::uint8_t> report,
                                SystemError& error) = 0;
};

}  // namespace torvane

namespace torvane {

// The HID class driver of this system.
HidClass& SystemHidClass();

}  // namespace torvane
