// hidraw with the system's error codes: the report descriptor (from sysfs) and the report ioctls.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/hid_class.h"

namespace torvane::hidraw {

// The first kernel with HIDIOCSOUTPUT and HIDIOCGINPUT.
inline constexpr std::string_view kReportIoctlsKernel = "5.11";

// The capabilities a report descriptor declares; nullopt when it does not parse.
std::optional<HidCaps> ParseCaps(std::span<const std::uint8_t> descriptor);
// The capabilities a HID device's report descriptor declares, read from its report_descriptor
// file in sysfs (hidDevicePath is the device's sysfs path): the node is not opened. The errno in
// error when it cannot be read, EINVAL when it does not parse.
std::optional<HidCaps> ReadCaps(const std::string& hidDevicePath, int& error);
// One output report (report[0] the ID) or one input report (report[0] names the ID). The kernel
// sends output reports over the interface's interrupt OUT endpoint when it has one, and as
// SET_REPORT over the control pipe only when it has none; input reports always come as
// GET_REPORT over the control pipe. 0, or the errno of the ioctl.
int SetOutputReport(int fd, std::span<const std::uint8_t> report);
int GetInputReport(int fd, std::span<std::uint8_t> report);
// True for the errors a kernel before kReportIoctlsKernel gives for the report ioctls.
bool IsMissingReportIoctl(int error);

}  // namespace torvane::hidraw
