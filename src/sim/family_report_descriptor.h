// The report descriptor of a family device's HID interface.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/hid_class.h"

namespace torvane::sim {

// A vendor-defined (page 0xFF00) collection with input report 0x01 and output report 0x03 of
// byte-wide fields, as long as caps counts them (one byte of each for the report ID).
std::vector<std::uint8_t> FamilyReportDescriptor(const HidCaps& caps);

}  // namespace torvane::sim
