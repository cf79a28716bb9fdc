// Descriptor sets of simulated USB functions: real USB descriptors, byte for byte as a device
// sends them.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace torvane::sim {

using DescriptorBytes = std::vector<std::uint8_t>;

struct DescriptorSet {
    DescriptorBytes device;  // the 18-byte device descriptor
    // String descriptors by index: entry 0 is the language table, the others whole string
    // descriptors (bLength, type 3, UTF-16LE text).
    std::vector<DescriptorBytes> strings;
    // Configuration blocks by index, wTotalLength bytes each.
    std::vector<DescriptorBytes> configurations;
    DescriptorBytes bos;      // the BOS block; empty when the device has none
    std::uint32_t speed = 0;  // the bus speed code: 1 full, 2 high, 4 SuperSpeed
};

// A string descriptor holding text (at most 126 UTF-16 units).
DescriptorBytes StringDescriptor(std::u16string_view text);

// A full-speed HID-class function: one interface with the HID descriptor and an interrupt IN and
// OUT endpoint (bcdUSB 0x0200, bMaxPacketSize0 64).
DescriptorSet HidClassDescriptors();
// A high-speed device (bcdUSB 0x0210): interface 0 with alternate settings 0 (bulk IN 0x81, bulk
// OUT 0x02) and 1 (bulk IN 0x81 and 0x83, bulk OUT 0x02), interface 1 with interrupt IN 0x84;
// a BOS with the USB 2.0 Extension.
DescriptorSet BulkAlternateDescriptors();
// A SuperSpeed device (bcdUSB 0x0300, bMaxPacketSize0 9): a class-specific descriptor before the
// bulk endpoints 0x81 and 0x02, each with its SuperSpeed Endpoint Companion; a BOS with the USB
// 2.0 Extension, SuperSpeed USB and Container ID capabilities.
DescriptorSet SuperSpeedDescriptors();
// A high-speed device with a zero-bandwidth alternate setting 0 and, in alternate setting 1, an
// isochronous IN endpoint 0x81 (2 x 1024 bytes per microframe) and OUT endpoint 0x02 (512);
// languages 0x0407 and 0x0409, a 20-character product string.
DescriptorSet IsochronousDescriptors();

}  // namespace torvane::sim
