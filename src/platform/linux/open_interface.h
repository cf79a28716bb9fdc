// What a DeviceHandle points to on Linux, made by Open and deleted by Close: a HID interface as the
// listing read it, and the node its transport goes through, opened at the first exchange: a scan
// that opens handles to read the attributes opens no node.
#pragma once

#include <memory>

#include "platform/device_access.h"
#include "platform/linux/hid_interfaces.h"
#include "platform/linux/usb_transport.h"
#include "platform/types.h"

namespace torvane::linux_hid {

class OpenInterface {
public:
    OpenInterface(HidInterface listed, Transport transport)
        : interface(std::move(listed)), transport(transport) {}
    // Closes the hidraw node; a usbfs interface is given back to its driver when its last
    // handle goes.
    ~OpenInterface();
    OpenInterface(const OpenInterface&) = delete;
    OpenInterface& operator=(const OpenInterface&) = delete;

    // The hidraw node's descriptor, opened on the first call; -1 and the errno in error when it
    // does not open.
    int Hidraw(int& error);
    // The usbfs interface, opened on the first call; nullptr and the errno in error when it does
    // not open.
    usbfs::UsbInterface* Usb(int& error);

    const HidInterface interface;
    const Transport transport;

private:
    int fd_ = -1;
    std::shared_ptr<usbfs::UsbInterface> usb_;
};

OpenInterface& ToInterface(DeviceHandle handle);

}  // namespace torvane::linux_hid
