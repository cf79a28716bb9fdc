// One interface descriptor (one alternate setting) of a configuration and the endpoint objects
// made from the endpoint descriptors that follow it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "platform/device_interfaces.h"
#include "platform/types.h"
#include "usb/usb_endpoint.h"

namespace torvane {

// The whole descriptor at offset of block; throws TextError when it has bLength 0, runs past the
// end of block, or block has no two bytes at offset.
std::span<const std::uint8_t> DescriptorAt(std::span<const std::uint8_t> block, std::size_t offset);

class CUsbInterface {
public:
    // block runs from the interface descriptor to the end of the configuration block. The plain
    // walk passes over up to 11 class-specific descriptors without using an endpoint ordinal;
    // the SuperSpeed walk also takes a SuperSpeed Endpoint Companion right after an endpoint.
    // Throws TextError for a block that would lead the walk outside it.
    CUsbInterface(DeviceInterfaces& system, DeviceHandle deviceHandle,
                  std::span<const std::uint8_t> block, bool superSpeedWalk);
    CUsbInterface(const CUsbInterface&) = delete;
    CUsbInterface& operator=(const CUsbInterface&) = delete;

    // Entry 0: the device's default control endpoint, set by the device when it binds this
    // interface and never owned here. Entry k (1 to bNumEndpoints): the object made from the
    // k-th endpoint descriptor, owned by this interface, or null where none was made (transfer
    // attributes above 3). Entries 1 to 31 must not be replaced.
    std::array<CUsbEndPoint*, 32> endpoints{};
    std::uint8_t bLength = 0;
    std::uint8_t bDescriptorType = 0;
    std::uint8_t bInterfaceNumber = 0;
    std::uint8_t bAlternateSetting = 0;
    std::uint8_t bNumEndpoints = 0;
    std::uint8_t bInterfaceClass = 0;
    std::uint8_t bInterfaceSubClass = 0;
    std::uint8_t bInterfaceProtocol = 0;
    std::uint8_t iInterface = 0;
    // Settings of this bInterfaceNumber in the configuration, this one included; set by the
    // configuration once it has built all of its interfaces.
    std::uint8_t altSettingCount = 0;
    // Bytes of the configuration block this interface accounts for: its own bLength plus that of
    // every descriptor its walk examined (one examined twice counts twice).
    std::uint16_t spanLength = 0;

private:
    std::array<std::unique_ptr<CUsbEndPoint>, 32> owned_;
};

}  // namespace torvane
