// What the two Linux backends share: the hidraw nodes as udev sees them, the record behind a
// handle, and the hidraw ioctls with the system's error codes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hid_class.h"
#include "platform/types.h"

namespace torvane::hidraw {

// The device interface class GUID of HID interfaces, the same value as on Windows.
inline constexpr Guid kHidClassGuid{
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

// The first kernel with HIDIOCSOUTPUT and HIDIOCGINPUT.
inline constexpr std::string_view kReportIoctlsKernel = "5.11";

struct Node {
    std::string sysname;  // hidraw0, hidraw1, ...
    std::string devnode;  // /dev/hidraw0
    // Of the USB device the node belongs to; 0 when it has none (Bluetooth, I2C, uhid).
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::optional<std::uint16_t> release;
    std::string locationPath;  // the USB port; empty without a USB device
    std::string locationInformation;
};

// Every hidraw node udev knows, hidraw0, hidraw1, ... in the order of their numbers.
std::vector<Node> ListNodes();

// The USB port of a device: its ID_PATH when udev gave one, else "usb-<bus>-<port chain>".
std::string LocationPath(const char* idPath, std::string_view busnum, std::string_view devpath);
// "Port_#<port chain> Bus <bus>".
std::string LocationInformation(std::string_view busnum, std::string_view devpath);
// Orders hidraw sysnames by their numbers: hidraw2 before hidraw10.
bool SysnameBefore(std::string_view a, std::string_view b);

// What a DeviceHandle points to on Linux: made by Open, deleted by Close.
struct OpenNode {
    int fd = -1;
    std::optional<std::uint16_t> release;
};
OpenNode& ToNode(DeviceHandle handle);

// The capabilities a report descriptor declares; nullopt when it does not parse.
std::optional<HidCaps> ParseCaps(std::span<const std::uint8_t> descriptor);
// The capabilities the node's report descriptor declares; the errno in error when it cannot be
// read, EINVAL when it does not parse.
std::optional<HidCaps> ReadCaps(int fd, int& error);
// One output report (report[0] the ID) or one input report (report[0] names the ID) over the
// control pipe. 0, or the errno of the ioctl.
int SetOutputReport(int fd, std::span<const std::uint8_t> report);
int GetInputReport(int fd, std::span<std::uint8_t> report);
// True for the errors a kernel before kReportIoctlsKernel gives for the report ioctls.
bool IsMissingReportIoctl(int error);

}  // namespace torvane::hidraw
