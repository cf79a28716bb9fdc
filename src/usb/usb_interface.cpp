#include "usb/usb_interface.h"

#include "usb/text_error.h"
#include "usb/usb_control_endpoint.h"
#include "usb/usb_isoc_endpoint.h"

namespace torvane {
namespace {

constexpr std::uint8_t kEndpointType = 5;
constexpr std::uint8_t kCompanionType = 0x30;
constexpr std::size_t kInterfaceDescriptorLength = 9;
constexpr std::size_t kEndpointDescriptorLength = 7;
constexpr std::size_t kCompanionDescriptorLength = 6;
// Class-specific descriptors passed over without using an endpoint ordinal.
constexpr int kPassedOver = 11;

// The object for an endpoint descriptor, by its whole bmAttributes byte; null above 3.
std::unique_ptr<CUsbEndPoint> MakeEndPoint(DeviceInterfaces& system, DeviceHandle deviceHandle,
                                           const std::uint8_t* endpoint,
                                           const std::uint8_t* companion) {
    switch (endpoint[3]) {
        case 0:
            return std::make_unique<CUsbControlEndPoint>(system, deviceHandle, endpoint);
        case 1:
            return std::make_unique<CUsbIsocEndPoint>(system, deviceHandle, endpoint, companion);
        case 2:
            return std::make_unique<CUsbBulkEndPoint>(system, deviceHandle, endpoint, companion);
        case 3:
            return std::make_unique<CUsbInterruptEndPoint>(system, deviceHandle, endpoint,
                                                           companion);
        default:
            return nullptr;
    }
}

}  // namespace

std::span<const std::uint8_t> DescriptorAt(std::span<const std::uint8_t> block,
                                           std::size_t offset) {
    if (offset + 2 > block.size()) {
        throw TextError("descriptor beyond the end of the block");
    }
    const std::uint8_t length = block[offset];
    if (length == 0 || length > block.size() - offset) {
        throw TextError("descriptor length 0 or running past the block");
    }
    return block.subspan(offset, length);
}

CUsbInterface::CUsbInterface(DeviceInterfaces& system, DeviceHandle deviceHandle,
                             std::span<const std::uint8_t> block, bool superSpeedWalk) {
    const auto descriptor = DescriptorAt(block, 0);
    if (descriptor.size() < kInterfaceDescriptorLength) {
        throw TextError("interface descriptor shorter than 9 bytes");
    }
    bLength = descriptor[0];
    bDescriptorType = descriptor[1];
    bInterfaceNumber = descriptor[2];
    bAlternateSetting = descriptor[3];
    bNumEndpoints = descriptor[4];
    bInterfaceClass = descriptor[5];
    bInterfaceSubClass = descriptor[6];
    bInterfaceProtocol = descriptor[7];
    iInterface = descriptor[8];
    if (bNumEndpoints >= endpoints.size()) {
        throw TextError("more than 31 endpoints in an interface");
    }
    spanLength = bLength;

    std::size_t cursor = bLength;
    int skipped = 0;
    std::size_t k = 0;
    while (k < bNumEndpoints) {
        const auto current = DescriptorAt(block, cursor);
        spanLength = static_cast<std::uint16_t>(spanLength + current.size());
        if (current[1] == kEndpointType) {
            if (current.size() < kEndpointDescriptorLength) {
                throw TextError("endpoint descriptor shorter than 7 bytes");
            }
            cursor += current.size();
            const std::uint8_t* companion = nullptr;
            if (superSpeedWalk && cursor + 2 <= block.size() &&
                block[cursor + 1] == kCompanionType) {
                const auto found = DescriptorAt(block, cursor);
                if (found.size() < kCompanionDescriptorLength) {
                    throw TextError("endpoint companion descriptor shorter than 6 bytes");
                }
                spanLength = static_cast<std::uint16_t>(spanLength + found.size());
                cursor += found.size();
                companion = found.data();
            }
            ++k;
            owned_[k] = MakeEndPoint(system, deviceHandle, current.data(), companion);
            endpoints[k] = owned_[k].get();
        } else {
            // Beyond the passed-over ones, each non-endpoint descriptor uses an ordinal; the plain
            // walk then stays on it, so that its later passes count the same descriptor again.
            ++skipped;
            if (skipped <= kPassedOver || superSpeedWalk) {
                cursor += current.size();
            }
            if (skipped > kPassedOver) {
                ++k;
            }
        }
    }
}

}  // namespace torvane
