// One configuration descriptor block turned into interface and endpoint objects.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>

#include "platform/device_interfaces.h"
#include "platform/types.h"
#include "usb/usb_interface.h"

namespace torvane {

class CUsbConfiguration {
public:
    // block: the configuration descriptor and the descriptors after it, at least wTotalLength
    // bytes. superSpeedWalk selects the interface walk (the device passes false for a USB 2.0
    // device). Throws TextError for a block that would lead the walk outside it.
    CUsbConfiguration(DeviceInterfaces& system, DeviceHandle deviceHandle,
                      std::span<const std::uint8_t> block, bool superSpeedWalk);
    // Clears entry 0 of every interface first: the default control endpoint placed there is the
    // device's own.
    ~CUsbConfiguration();
    CUsbConfiguration(const CUsbConfiguration&) = delete;
    CUsbConfiguration& operator=(const CUsbConfiguration&) = delete;

    // Entries 0 to interfaceCount - 1 in descriptor order, the rest null; interface descriptors
    // after the eighth are not built.
    std::array<std::unique_ptr<CUsbInterface>, 8> interfaces;
    std::uint8_t bLength = 0;
    std::uint8_t bDescriptorType = 0;
    std::uint16_t wTotalLength = 0;
    std::uint8_t bNumInterfaces = 0;
    std::uint8_t bConfigurationValue = 0;
    std::uint8_t iConfiguration = 0;
    std::uint8_t bmAttributes = 0;
    std::uint8_t bMaxPower = 0;
    std::uint8_t interfaceCount = 0;
};

}  // namespace torvane
