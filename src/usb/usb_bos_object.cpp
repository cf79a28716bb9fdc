#include "usb/usb_bos_object.h"

#include <algorithm>
#include <cstddef>

#include "usb/little_endian.h"
#include "usb/text_error.h"

namespace torvane {
namespace {

constexpr std::size_t kBosDescriptorLength = 5;
constexpr std::size_t kCapabilityHeaderLength = 3;
constexpr std::uint8_t kUsb20Extension = 2;
constexpr std::uint8_t kSuperSpeedUsb = 3;
constexpr std::uint8_t kContainerId = 4;

void RequireLength(std::span<const std::uint8_t> descriptor, std::size_t length) {
    if (descriptor.size() < length) {
        throw TextError("device capability shorter than its record");
    }
}

}  // namespace

CUsbBosUsb20Extension::CUsbBosUsb20Extension(std::span<const std::uint8_t> descriptor) {
    RequireLength(descriptor, 7);
    bLength = descriptor[0];
    bDescriptorType = descriptor[1];
    bDevCapabilityType = descriptor[2];
    bmAttributes = static_cast<std::uint32_t>(ReadLe16(descriptor, 3)) |
                   static_cast<std::uint32_t>(ReadLe16(descriptor, 5)) << 16;
}

CUsbBosSuperSpeedUsb::CUsbBosSuperSpeedUsb(std::span<const std::uint8_t> descriptor) {
    RequireLength(descriptor, 10);
    bLength = descriptor[0];
    bDescriptorType = descriptor[1];
    bDevCapabilityType = descriptor[2];
    bmAttributes = descriptor[3];
    wSpeedsSupported = ReadLe16(descriptor, 4);
    bFunctionalitySupport = descriptor[6];
    bU1DevExitLat = descriptor[7];
    wU2DevExitLat = ReadLe16(descriptor, 8);
}

CUsbBosContainerId::CUsbBosContainerId(std::span<const std::uint8_t> descriptor) {
    RequireLength(descriptor, 20);
    bLength = descriptor[0];
    bDescriptorType = descriptor[1];
    bDevCapabilityType = descriptor[2];
    std::ranges::copy(descriptor.subspan(4, ContainerID.size()), ContainerID.begin());
}

CUsbBosObject::CUsbBosObject(std::span<const std::uint8_t> block) {
    if (block.size() < kBosDescriptorLength || block[0] < kBosDescriptorLength) {
        throw TextError("BOS descriptor shorter than 5 bytes");
    }
    bLength = block[0];
    bDescriptorType = block[1];
    wTotalLength = ReadLe16(block, 2);
    bNumDeviceCaps = block[4];

    int remaining = wTotalLength - bLength;
    std::size_t cursor = bLength;
    for (int pass = 0; pass < bNumDeviceCaps && remaining >= 0; ++pass) {
        if (cursor + kCapabilityHeaderLength > block.size()) {
            throw TextError("device capability beyond the end of the block");
        }
        const std::uint8_t length = block[cursor];
        const std::uint8_t type = block[cursor + 2];
        if (type != kUsb20Extension && type != kSuperSpeedUsb && type != kContainerId) {
            // The walk stays on a capability of another type: nothing after it is recorded.
            break;
        }
        if (length > block.size() - cursor) {
            throw TextError("device capability running past the block");
        }
        const auto capability = block.subspan(cursor, length);
        remaining -= length;
        if (type == kUsb20Extension) {
            usb20Extension = std::make_unique<CUsbBosUsb20Extension>(capability);
        } else if (type == kSuperSpeedUsb) {
            superSpeedUsb = std::make_unique<CUsbBosSuperSpeedUsb>(capability);
        } else {
            containerId = std::make_unique<CUsbBosContainerId>(capability);
        }
        cursor += length;
    }
}

}  // namespace torvane
