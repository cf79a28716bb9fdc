#include "usb/usb_configuration.h"

#include <algorithm>

#include "usb/text_error.h"

namespace torvane {
namespace {

constexpr std::uint8_t kInterfaceType = 4;
constexpr std::size_t kConfigurationDescriptorLength = 9;

}  // namespace

CUsbConfiguration::CUsbConfiguration(DeviceInterfaces& system, DeviceHandle deviceHandle,
                                     std::span<const std::uint8_t> block, bool superSpeedWalk) {
    if (block.size() < kConfigurationDescriptorLength ||
        block[0] < kConfigurationDescriptorLength) {
        throw TextError("configuration descriptor shorter than 9 bytes");
    }
    bLength = block[0];
    bDescriptorType = block[1];
    wTotalLength = static_cast<std::uint16_t>(block[2] | block[3] << 8);
    bNumInterfaces = block[4];
    bConfigurationValue = block[5];
    iConfiguration = block[6];
    bmAttributes = block[7];
    bMaxPower = block[8];
    if (wTotalLength > block.size() || bLength > wTotalLength) {
        throw TextError("configuration block shorter than its descriptors");
    }

    const auto walked = block.first(wTotalLength);
    std::size_t position = bLength;
    while (position < wTotalLength && interfaceCount < interfaces.size()) {
        const auto descriptor = DescriptorAt(walked, position);
        if (descriptor[1] == kInterfaceType) {
            const auto& built = interfaces[interfaceCount++] = std::make_unique<CUsbInterface>(
                system, deviceHandle, walked.subspan(position), superSpeedWalk);
            position += built->spanLength;
        } else {
            position += descriptor.size();
        }
    }

    for (std::size_t i = 0; i < interfaceCount; ++i) {
        interfaces[i]->altSettingCount = static_cast<std::uint8_t>(std::ranges::count_if(
            interfaces.begin(), interfaces.begin() + interfaceCount, [&](const auto& other) {
                return other->bInterfaceNumber == interfaces[i]->bInterfaceNumber;
            }));
    }
}

CUsbConfiguration::~CUsbConfiguration() {
    for (const auto& setting : interfaces) {
        if (setting) {
            setting->endpoints[0] = nullptr;
        }
    }
}

}  // namespace torvane
