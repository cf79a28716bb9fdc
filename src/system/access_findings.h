// What keeps the system's interfaces of the family from being used, in words: the lines of
// torvane-cli doctor, the hint on the window's status line and the notes of the give-back at
// the start.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/device_access.h"

namespace torvane {

struct AccessFinding {
    bool usable = false;
    std::string status;  // "ok", "access denied", ...
    std::string advice;  // how to fix it; empty when there is nothing to say
};

// What an examined interface's problem means and how to fix it.
AccessFinding DescribeAccess(const InterfaceAccess& access);
// What is said of an interface that the give-back asked for (or left to the kernel, which was
// still setting it up), given what examining it found afterwards.
AccessFinding GivenBackFinding(const GivenBack& given, const AccessFinding& examined);
// The same on one line, with the interface's sysfs name and USB device node.
std::string GiveBackNote(const GivenBack& given);

// When an interface of the vendor cannot be used: its node, what was found and how to fix it, on
// one line.
std::optional<std::string> UnusableInterfaceHint(std::uint16_t vendorId,
                                                 std::uint8_t inputReportId);

}  // namespace torvane
