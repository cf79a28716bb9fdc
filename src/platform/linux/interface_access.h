// Whether the node that a HID interface's transport opens can be used, and what to do when it
// cannot: the findings torvane-cli doctor prints, and the hint the window shows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/hid_interfaces.h"

namespace torvane::linux_hid {

struct AccessFinding {
    bool usable = false;
    std::string status;  // "ok", "access denied", ...
    std::string advice;  // how to fix it; empty when there is nothing to say
};

// The HID interfaces of a USB vendor, in ListHidInterfaces' order.
std::vector<HidInterface> VendorInterfaces(std::uint16_t vendorId);
// The node a transport opens: the USB device node for usbfs, else the hidraw node (or, while
// there is none, the interface's path).
const std::string& NodeOf(const HidInterface& interface, Transport transport);
// 0 when the node opens for reading and writing, else the errno.
int OpenError(const std::string& node);
// Opens the interface's node as the transport would; for hidraw also reads the capabilities and
// asks for the input report inputReportId, as the engine would. The USB device node is only
// opened: claiming the interface would take it from its driver. A USB interface that another
// program claims is busy, one without a driver was left so by a program that was killed.
AccessFinding ExamineInterface(const HidInterface& interface, Transport transport,
                               std::uint8_t inputReportId);

// The processes but this one that have the node open, by id: those that hold a claimed
// interface of its USB device among them. Only those whose descriptors the system shows.
std::vector<int> ProcessesHolding(const std::string& node);

// A USB interface of the vendor that has no driver, given back to the HID driver.
struct GivenBack {
    HidInterface interface;
    int error = 0;  // 0 when the driver took it, else the errno
};
// Asks the kernel to bind a driver to each HID interface of the vendor that has none and that no
// program claims (what a program killed while it held the interface leaves), that one interface
// only; the kernel refuses one that is claimed meanwhile. Returns each interface it asked for,
// after waiting up to a second for their hidraw nodes to open.
std::vector<GivenBack> GiveBackDriverless(std::uint16_t vendorId);
// What doctor says of an interface that GiveBackDriverless asked for, given what examining it
// found afterwards.
AccessFinding GiveBackFinding(const GivenBack& given, const AccessFinding& examined);
// The same on one line, with the interface's sysfs name and USB device node.
std::string GiveBackNote(const GivenBack& given);

// When an interface of the vendor cannot be used: its node, what was found and how to fix it, on
// one line.
std::optional<std::string> UnusableInterfaceHint(std::uint16_t vendorId,
                                                 std::uint8_t inputReportId);

}  // namespace torvane::linux_hid
