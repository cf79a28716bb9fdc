#include "platform/linux/usb_descriptors.h"

namespace torvane::linux_hid {

bool HasInterruptOut(std::span<const std::uint8_t> descriptors, std::uint8_t configuration,
                     std::uint8_t interfaceNumber, std::uint8_t alternate) {
    constexpr std::uint8_t kConfiguration = 2, kInterface = 4, kEndpoint = 5;
    bool inConfiguration = false;
    bool inInterface = false;
    std::size_t at = 0;
    while (descriptors.size() - at >= 2) {
        const std::size_t length = descriptors[at];
        const std::uint8_t type = descriptors[at + 1];
        const std::size_t needed = type == kConfiguration || type == kInterface ? 9
                                   : type == kEndpoint                          ? 7
                                                                                : 2;
        if (length < needed || length > descriptors.size() - at) {
            return false;
        }
        const std::span<const std::uint8_t> descriptor = descriptors.subspan(at, length);
        if (type == kConfiguration) {
            inConfiguration = descriptor[5] == configuration;
            inInterface = false;
        } else if (type == kInterface) {
            inInterface =
                inConfiguration && descriptor[2] == interfaceNumber && descriptor[3] == alternate;
        } else if (type == kEndpoint && inInterface && (descriptor[2] & 0x80) == 0 &&
                   (descriptor[3] & 0x03) == 0x03) {
            return true;
        }
        at += length;
    }
    return false;
}

}  // namespace torvane::linux_hid
