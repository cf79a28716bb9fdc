// The HID interfaces of this system as sysfs and udev show them: USB interfaces of the HID class
// (with their hidraw node while the HID driver is bound to them) and hidraw nodes without a USB
// interface; and the transport each of them is opened with.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/device_access.h"
#include "platform/linux/port_location.h"
#include "platform/linux/usb_descriptors.h"
#include "platform/types.h"

namespace torvane::linux_hid {

// The device interface class GUID of HID interfaces, the same value as on Windows.
inline constexpr Guid kHidClassGuid{
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

struct HidInterface {
    // What Open takes: the hidraw node while one is bound, else the USB interface's sysfs path.
    std::string devicePath;
    std::string hidrawNode;        // /dev/hidraw0; empty while the interface has no hidraw node
    std::string usbInterfacePath;  // its USB interface's sysfs path; empty without one
    std::string usbNode;           // /dev/bus/usb/001/004; empty without a USB device
    std::uint8_t interfaceNumber = 0;
    // The kernel driver bound to the USB interface: "usbhid", "usbfs" while a program claims it,
    // empty while none is (or without a USB interface).
    std::string driver;
    // The interface's current setting has an interrupt OUT endpoint.
    bool interruptOut = false;
    // Of the USB device; of the HID device for a node without one (Bluetooth, I2C, uhid).
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::optional<std::uint16_t> release;  // of the USB device
    std::string serial;                    // the USB device's; empty when it has none
    std::string locationPath;              // the USB port; empty without a USB device
    std::string locationInformation;
    // The sysfs path of the HID device the hidraw node belongs to, where the HID driver shows the
    // report descriptor; empty while the interface has no hidraw node.
    std::string hidDevicePath;
};

// The USB interfaces of class HID in the natural order of their sysfs names (1-2:1.0 before
// 1-10:1.0), bound or not; then the hidraw nodes that belong to none of them, by number. Read
// from sysfs and udev: no node is opened. A USB device whose port the kernel's topology does not
// name as udev does is left out until udev has processed it.
std::vector<HidInterface> ListHidInterfaces();
// How many times ListHidInterfaces has run in this process.
std::uint64_t ListingCount();
// The interface that path names, as ListHidInterfaces would list it, read from that interface
// alone: path is its hidraw node or its USB interface's sysfs path, so that a path listed while
// the driver had let go of the interface still finds it once the driver is back. nullopt when
// path names no HID interface.
std::optional<HidInterface> LookUpHidInterface(std::string_view path);

// Natural order of sysfs names: runs of digits compare as numbers (shorter first), so that
// hidraw2 comes before hidraw10 and 1-2:1.0 before 1-10:1.0.
bool NaturalLess(std::string_view a, std::string_view b);

// The transport Open uses for the interface under the current preference (SetTransportPreference);
// an interface without a USB device always uses hidraw.
Transport ChooseTransport(const HidInterface& interface);

// The HID interfaces of a USB vendor, in ListHidInterfaces' order.
std::vector<HidInterface> VendorInterfaces(std::uint16_t vendorId);
// The node a transport opens: the USB device node for usbfs, else the hidraw node (or, while
// there is none, the interface's path).
const std::string& NodeOf(const HidInterface& interface, Transport transport);
// 0 when this process may open the node the transport opens (the USB device node for usbfs, else
// the hidraw node) for reading and writing, else the errno: ENOENT while there is none. The node is
// not opened (an open of a hidraw node costs the HID driver's wait).
int AccessError(const HidInterface& interface, Transport transport);
// Whether an interface listed without a driver is still being set up by the kernel rather than
// left without one: its HID device is there already (the HID driver is binding it), or it has a
// driver once the kernel lets go of its USB device, which it holds while its drivers probe its
// interfaces (a read of the device's bConfigurationValue waits for that).
bool StillSettingUp(const HidInterface& interface);

}  // namespace torvane::linux_hid
