// HID class seam: what the program needs of the HID class driver, on an open interface handle.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

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

// A serial number as the program shows and logs it: control characters (a line break from a
// device would start a new line in a log) become '?', and it is cut to the 126 UTF-16 units of a
// USB string descriptor at their longest in UTF-8.
inline std::string PrintableSerial(std::string_view raw) {
    std::string text(raw.substr(0, 126 * 3));
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = '?';
        }
    }
    return text;
}

class HidClass {
public:
    virtual ~HidClass() = default;
    // The device interface class GUID of HID interfaces.
    virtual Guid HidGuid() = 0;
    // Vendor ID, product ID and version of the interface; false when the driver refuses.
    virtual bool GetAttributes(DeviceHandle handle, HidAttributes& attributes) = 0;
    // The USB device's serial number (its string descriptor), as UTF-8; false when it has none or
    // the driver refuses.
    virtual bool GetSerialNumber(DeviceHandle handle, std::string& serial) = 0;
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
