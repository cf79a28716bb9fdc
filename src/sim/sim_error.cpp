#include "sim/sim_function.h"

namespace torvane::sim {

SystemError SimError(std::uint32_t code) {
    switch (code) {
        case kErrorFileNotFound:
            return {code, "The system cannot find the file specified", false};
        case kErrorAccessDenied:
            return {code, "Access is denied", false};
        case kErrorInvalidHandle:
            return {code, "The handle is invalid", false};
        case kErrorGenFailure:
            return {code, "A device attached to the system is not functioning", false};
        case kErrorDeviceNotConnected:
            return {code, "The device is not connected", true};
        default:
            return {code, "system error " + std::to_string(code), false};
    }
}

}  // namespace torvane::sim
