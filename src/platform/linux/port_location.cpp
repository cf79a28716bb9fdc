#include "platform/linux/port_location.h"

namespace torvane::linux_hid {
namespace {

std::string_view Text(const char* text) {
    return text == nullptr ? std::string_view() : std::string_view(text);
}

// The kinds of device that udev's path_id names, by their sysfs names, in the path of a USB port:
// the parents a host controller has.
bool IsNamedParent(std::string_view subsystem) {
    return subsystem == "pci" || subsystem == "platform" || subsystem == "acpi" ||
           subsystem == "xen" || subsystem == "scm";
}

}  // namespace

std::optional<std::string> TopologyPath(udev_device* usb) {
    const std::string_view name = Text(udev_device_get_sysname(usb));
    const std::size_t dash = name.find('-');
    if (dash == std::string_view::npos) {
        return std::nullopt;
    }
    std::string path = "usb-0:" + std::string(name.substr(dash + 1));
    bool named = false;
    // Above a named device (and above the device itself, its hubs), its parents of the same kind
    // add nothing.
    std::string passing = "usb";
    // The parents belong to their children: they are not released here.
    for (udev_device* parent = udev_device_get_parent(usb); parent != nullptr;
         parent = udev_device_get_parent(parent)) {
        const std::string_view subsystem = Text(udev_device_get_subsystem(parent));
        if (subsystem == passing) {
            continue;
        }
        passing.clear();
        if (subsystem == "virtio") {
            passing = subsystem;
        } else if (IsNamedParent(subsystem)) {
            path = std::string(subsystem) + "-" +
                   std::string(Text(udev_device_get_sysname(parent))) + "-" + path;
            named = true;
            passing = subsystem;
        } else if (!subsystem.empty()) {
            return std::nullopt;
        }
    }
    return named ? path : std::string();
}

std::string LocationInformation(std::string_view busnum, std::string_view devpath) {
    return "Port_#" + std::string(devpath) + " Bus " + std::string(busnum);
}

}  // namespace torvane::linux_hid
