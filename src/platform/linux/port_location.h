// The name of a USB port: udev's ID_PATH as the kernel's topology gives it, and the location
// information of a port.
#pragma once

#include <libudev.h>

#include <optional>
#include <string>
#include <string_view>

namespace torvane::linux_hid {

// The USB port of a USB device as udev's path_id names it in ID_PATH, from the kernel's topology
// alone, so that it is the same text before udev has processed the device as after:
// "usb-0:<port chain>" after the nearest device of each named kind above the root hub
// ("platform-dummy_hcd.0-usb-0:1", "pci-0000:00:14.0-usb-0:1.4"); empty when there is none (udev
// gives no ID_PATH then). nullopt when a device of another kind is on the way up, which path_id
// may name.
std::optional<std::string> TopologyPath(udev_device* usb);

// "Port_#<port chain> Bus <bus>".
std::string LocationInformation(std::string_view busnum, std::string_view devpath);

}  // namespace torvane::linux_hid
