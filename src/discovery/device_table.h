// The device table: what a scan found, one row per listed family device, in list order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/types.h"

namespace torvane {

inline constexpr std::size_t kDeviceTableRows = 128;

struct ListedDevice {
    // The list text: the model, or "Z51-Arud" for a boot loader.
    std::string text;
    // The interface's index in the enumeration of its class, as the scan saw it.
    std::uint8_t index = 0;
    // The USB port's location path; empty when the device has none that identifies it.
    std::string location;
    Guid guid;
    // The USB device's serial number, printable; empty when it has none.
    std::string serial;
};

// At most kDeviceTableRows rows.
using DeviceTable = std::vector<ListedDevice>;

}  // namespace torvane
