// The BOS descriptor block of a USB 3.x device and the device capabilities recorded from it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>

namespace torvane {

// Each record copies its capability descriptor's fields; its constructor throws TextError when
// the descriptor is shorter than the record.
class CUsbBosUsb20Extension {
public:
    explicit CUsbBosUsb20Extension(std::span<const std::uint8_t> descriptor);

    std::uint8_t bLength = 0;
    std::uint8_t bDescriptorType = 0;
    std::uint8_t bDevCapabilityType = 0;
    std::uint32_t bmAttributes = 0;
};

class CUsbBosSuperSpeedUsb {
public:
    explicit CUsbBosSuperSpeedUsb(std::span<const std::uint8_t> descriptor);

    std::uint8_t bLength = 0;
    std::uint8_t bDescriptorType = 0;
    std::uint8_t bDevCapabilityType = 0;
    std::uint8_t bmAttributes = 0;
    std::uint16_t wSpeedsSupported = 0;
    std::uint8_t bFunctionalitySupport = 0;
    std::uint8_t bU1DevExitLat = 0;
    std::uint16_t wU2DevExitLat = 0;
};

class CUsbBosContainerId {
public:
    explicit CUsbBosContainerId(std::span<const std::uint8_t> descriptor);

    std::uint8_t bLength = 0;
    std::uint8_t bDescriptorType = 0;
    std::uint8_t bDevCapabilityType = 0;
    std::array<std::uint8_t, 16> ContainerID{};  // descriptor bytes 4 to 19
};

class CUsbBosObject {
public:
    // Records the USB 2.0 Extension, SuperSpeed USB and Container ID capabilities among the first
    // bNumDeviceCaps, stopping at the first capability of another type and once the capabilities
    // have used more than wTotalLength - bLength bytes; a later capability of a type replaces an
    // earlier one. Throws TextError for a block that would lead the walk outside it.
    explicit CUsbBosObject(std::span<const std::uint8_t> block);

    // Null when the block has none.
    std::unique_ptr<CUsbBosContainerId> containerId;
    std::unique_ptr<CUsbBosUsb20Extension> usb20Extension;
    std::unique_ptr<CUsbBosSuperSpeedUsb> superSpeedUsb;
    std::uint8_t bLength = 0;
    std::uint8_t bDescriptorType = 0;
    std::uint16_t wTotalLength = 0;
    std::uint8_t bNumDeviceCaps = 0;
};

}  // namespace torvane
