// Anything that can sit on the virtual bus: what it shows the host and how it answers reports
// and I/O control requests.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "platform/device_interfaces.h"
#include "platform/hid_class.h"
#include "platform/types.h"

namespace torvane::sim {

// True once the tick count now has reached t, right across a wrap of the counter.
inline bool Reached(std::uint32_t now, std::uint32_t t) {
    return static_cast<std::int32_t>(now - t) >= 0;
}

// System error codes the simulator reports, with the system's own values.
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorGenFailure = 31;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorDeviceNotConnected = 1167;

// One of the codes above as the system whose codes they are words it, on any host.
SystemError SimError(std::uint32_t code);

// What the bus shows of a function at one moment.
struct SimInterface {
    Guid classGuid;
    std::string locationPath;  // the USB port; stays when the function re-enumerates
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t versionNumber = 0;
    std::string serial;  // the USB device's serial number; empty when it has none
    HidCaps caps;
    std::uint32_t generation = 0;  // changes each time the function comes back on the bus
};

// Each function guards its own state with mutex(): the bus holds it across each request, from
// its look at the interface to the answer, so that the function cannot re-enumerate in between;
// the function's accessors for other threads take it too. Requests to different functions never
// wait for each other, and no sleep is ever taken under it.
class SimFunction {
public:
    virtual ~SimFunction() = default;
    // The interface at time now, or nullopt while the function is off the bus.
    virtual std::optional<SimInterface> Interface(std::uint32_t now) = 0;
    // An open of the interface shown; false when the system refuses it (access denied).
    virtual bool Open() { return true; }
    // One output report from the host, report[0] the report ID; false when refused (the
    // default: the function takes no reports).
    virtual bool OutputReport(std::uint32_t /*now*/, std::span<const std::uint8_t> /*report*/) {
        return false;
    }
    // One input report to the host, report[0] the report ID asked for; false when refused (the
    // default).
    virtual bool InputReport(std::uint32_t /*now*/, std::span<std::uint8_t> /*report*/) {
        return false;
    }
    // One I/O control request of the driver behind the interface. input is the caller's request
    // and never aliases output; bytesReturned is what went back into output. The default is the
    // HID class driver's answer to every code it does not know: kErrorInvalidFunction, nothing
    // written.
    virtual bool IoControl(std::uint32_t /*now*/, std::uint32_t /*code*/,
                           std::span<std::uint8_t> /*input*/, std::span<std::uint8_t> /*output*/,
                           std::uint32_t& bytesReturned, SystemError& error) {
        bytesReturned = 0;
        error.code = kErrorInvalidFunction;
        return false;
    }

    std::mutex& mutex() const { return mutex_; }

private:
    mutable std::mutex mutex_;
};

// The device interface class GUID of HID interfaces, as the HID class driver names it.
inline constexpr Guid kHidClassGuid{
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

}  // namespace torvane::sim
