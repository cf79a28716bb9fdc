// Reports over the control pipe through usbfs (libusb), for HID interfaces with an interrupt OUT
// endpoint: hidraw would send their output reports over that endpoint, and the devices take
// commands only as SET_REPORT. From its first exchange until it closes, the interface is detached
// from its kernel driver and claimed; closing gives it back to the driver (a program stopped by a
// signal closes its runs first; one killed leaves it to the give-back at the next start). Opening
// alone leaves the driver be, so that a scan never takes the interface and an interface another
// program holds is still opened and identified.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "platform/hid_class.h"

namespace torvane::usbfs {

struct Claim;

// One open interface, shared by every handle of this program that opens it.
class UsbInterface {
public:
    // Opens usbNode (/dev/bus/usb/BBB/DDD) for interface `number`; nullptr and the errno on
    // failure.
    static std::shared_ptr<UsbInterface> Open(const std::string& usbNode, std::uint8_t number,
                                              int& error);
    // Releases the interface, binds the kernel driver again if it was detached, closes.
    ~UsbInterface();
    UsbInterface(const UsbInterface&) = delete;
    UsbInterface& operator=(const UsbInterface&) = delete;

    // These three first detach the kernel driver from the interface (that one only) when one is
    // bound and claim it, unless done before; EBUSY when another program holds it.
    // The capabilities of the interface's report descriptor (GET_DESCRIPTOR); the errno in error
    // when it cannot be read, EINVAL when it does not parse.
    std::optional<HidCaps> ReadCaps(int& error);
    // SET_REPORT(Output) and GET_REPORT(Input) on the control pipe; report[0] is the report ID,
    // sent as part of the data when nonzero. 0, or an errno.
    int SetOutputReport(std::span<const std::uint8_t> report);
    int GetInputReport(std::span<std::uint8_t> report);

private:
    UsbInterface(std::unique_ptr<Claim> claim, std::string key);
    // Claims the interface unless it is claimed already; 0 or the errno.
    int Claimed();

    std::mutex claimLock_;
    std::unique_ptr<Claim> claim_;
    std::string key_;
};

}  // namespace torvane::usbfs
