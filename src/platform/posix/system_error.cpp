#include <cerrno>
#include <cstring>

#include "platform/types.h"

namespace torvane {

SystemError DescribeSystemError(std::uint32_t code) {
    const int number = static_cast<int>(code);
    // usbfs and hidraw say ENODEV once the device has been disconnected; usbfs says ESHUTDOWN
    // when its host controller has gone with it.
    return {code, std::strerror(number), number == ENODEV || number == ESHUTDOWN};
}

}  // namespace torvane
