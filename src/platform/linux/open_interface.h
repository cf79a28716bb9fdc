// What a DeviceHandle points to on Linux, made by Open and deleted by Close: a hidraw node, or a
// HID interface claimed through usbfs.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "platform/linux/usb_transport.h"
#include "platform/types.h"

namespace torvane::linux_hid {

struct HidrawNode {
    int fd = -1;
    // bcdDevice of its USB device; hidraw does not tell it.
    std::optional<std::uint16_t> release;
    std::string node;  // its path
};

using OpenInterface = std::variant<HidrawNode, std::shared_ptr<usbfs::UsbInterface>>;

OpenInterface& ToInterface(DeviceHandle handle);

}  // namespace torvane::linux_hid
