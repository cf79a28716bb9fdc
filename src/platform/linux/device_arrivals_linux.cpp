// Device arrivals on the udev monitor: udevd's word of hidraw nodes and USB devices and
// interfaces, sent once their rules have run (so a node's permissions are in place by then).
#include <libudev.h>
#include <poll.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/device_arrivals.h"

namespace torvane {
namespace {

class UdevArrivals final : public DeviceArrivals {
public:
    UdevArrivals(udev* context, udev_monitor* monitor) : udev_(context), monitor_(monitor) {}
    ~UdevArrivals() override {
        udev_monitor_unref(monitor_);
        udev_unref(udev_);
    }
    UdevArrivals(const UdevArrivals&) = delete;
    UdevArrivals& operator=(const UdevArrivals&) = delete;

    bool Wait(std::uint32_t timeoutMs, bool) override {
        pollfd watched{udev_monitor_get_fd(monitor_), POLLIN, 0};
        const int timeout = static_cast<int>(std::min<std::uint32_t>(timeoutMs, 1u << 30));
        if (::poll(&watched, 1, timeout) <= 0) {
            return false;
        }
        // Take every message that is there: the caller scans once for all of them.
        bool told = false;
        while (udev_device* device = udev_monitor_receive_device(monitor_)) {
            udev_device_unref(device);
            told = true;
        }
        return told;
    }

private:
    udev* udev_;
    udev_monitor* monitor_;
};

}  // namespace

std::unique_ptr<DeviceArrivals> WatchSystemArrivals(const Guid&, std::string& error) {
    udev* context = udev_new();
    udev_monitor* monitor =
        context != nullptr ? udev_monitor_new_from_netlink(context, "udev") : nullptr;
    if (monitor == nullptr ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor, "hidraw", nullptr) < 0 ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor, "usb", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor) < 0) {
        error = std::string("the udev monitor cannot be opened: ") + std::strerror(errno);
        if (monitor != nullptr) {
            udev_monitor_unref(monitor);
        }
        if (context != nullptr) {
            udev_unref(context);
        }
        return nullptr;
    }
    return std::make_unique<UdevArrivals>(context, monitor);
}

}  // namespace torvane
