// What a USB device's raw descriptors (its sysfs `descriptors` file) tell of an interface.
#pragma once

#include <cstdint>
#include <span>

namespace torvane::linux_hid {

// Whether setting `alternate` of interface `interfaceNumber` in configuration `configuration`
// has an interrupt OUT endpoint, read from a USB device's raw descriptors (the device descriptor,
// then every configuration with its subordinate descriptors). Stops at the first descriptor
// whose length is too short or runs past the end.
bool HasInterruptOut(std::span<const std::uint8_t> descriptors, std::uint8_t configuration,
                     std::uint8_t interfaceNumber, std::uint8_t alternate);

}  // namespace torvane::linux_hid
