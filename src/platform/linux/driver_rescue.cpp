// The give-back at start-up: interfaces that a program killed in the middle of a claim left
// without a driver are bound to their driver again.
#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/device_access.h"
#include "platform/linux/hid_interfaces.h"

namespace torvane {
namespace {

// True once this user may open the hidraw node of the USB interface, or the interface has none
// to wait for.
bool HidrawReady(const std::string& usbInterfacePath) {
    const std::optional<linux_hid::HidInterface> interface =
        linux_hid::LookUpHidInterface(usbInterfacePath);
    return !interface || linux_hid::AccessError(*interface, Transport::kHidraw) == 0;
}

std::string SysfsName(const std::string& usbInterfacePath) {
    return usbInterfacePath.substr(usbInterfacePath.rfind('/') + 1);
}

}  // namespace

std::vector<GivenBack> GiveBackDriverless(std::uint16_t vendorId,
                                          std::span<const std::uint16_t> productIds) {
    std::vector<GivenBack> given;
    std::vector<std::string> paths;
    for (const linux_hid::HidInterface& interface : linux_hid::VendorInterfaces(vendorId)) {
        if (interface.usbInterfacePath.empty() || !interface.driver.empty() ||
            std::ranges::find(productIds, interface.productId) == productIds.end()) {
            continue;
        }
        given.push_back({SysfsName(interface.usbInterfacePath), interface.usbNode});
        GivenBack& entry = given.back();
        paths.push_back(interface.usbInterfacePath);
        entry.settingUp = linux_hid::StillSettingUp(interface);
        if (entry.settingUp) {
            continue;
        }
        if (const int fd = interface.usbNode.empty()
                               ? -1
                               : ::open(interface.usbNode.c_str(), O_RDWR | O_CLOEXEC);
            fd < 0) {
            entry.error = interface.usbNode.empty() ? ENOENT : errno;
        } else {
            usbdevfs_ioctl command{interface.interfaceNumber, static_cast<int>(USBDEVFS_CONNECT),
                                   nullptr};
            entry.error = ::ioctl(fd, USBDEVFS_IOCTL, &command) < 0 ? errno : 0;
            ::close(fd);
            // The kernel answers 0 as well when none of its drivers takes the interface.
            char driver[256];
            if (entry.error == 0 && ::readlink((interface.usbInterfacePath + "/driver").c_str(),
                                               driver, sizeof driver) < 0) {
                entry.error = ENXIO;
            }
        }
    }
    // The kernel makes the hidraw node at once; udev gives it its permissions a moment later.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    for (std::size_t i = 0; i < given.size(); ++i) {
        while (given[i].error == 0 && !HidrawReady(paths[i]) &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    return given;
}

}  // namespace torvane
