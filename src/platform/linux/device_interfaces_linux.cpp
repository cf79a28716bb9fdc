// Device interfaces seam on libudev, hidraw and usbfs: the HID interfaces are the USB interfaces
// of the HID class and the hidraw nodes without one; a handle reaches an interface through its
// hidraw node or through usbfs, as ChooseTransport decides.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>
#include <utility>

#include "platform/device_interfaces.h"
#include "platform/linux/hid_interfaces.h"
#include "platform/linux/open_interface.h"

namespace torvane {
namespace {

// The interfaces this thread listed last: a scan opens what it has just listed without reading
// it again. Each thread keeps its own, so that update runs on other threads share nothing.
thread_local std::vector<linux_hid::HidInterface> listedHere;

// The kernel's HID driver waits 50 ms whenever a node is opened that no one holds open, and a
// scan opens each device twice in a row: its handle, then the full open, which closes the handle
// first. So the hidraw descriptor a handle of this thread closed last is kept a moment, and an
// open of the same node right after takes it back. A listing, an open of another node or another
// close lets it go.
class ParkedNode {
public:
    ~ParkedNode() { Drop(); }
    // The kept descriptor of node, or -1.
    int Take(const std::string& node) {
        if (fd_ >= 0 && node_ == node && std::chrono::steady_clock::now() - at_ < kKept) {
            return std::exchange(fd_, -1);
        }
        Drop();
        return -1;
    }
    void Keep(std::string node, int fd) {
        Drop();
        node_ = std::move(node);
        fd_ = fd;
        at_ = std::chrono::steady_clock::now();
    }
    void Drop() {
        if (fd_ >= 0) {
            ::close(std::exchange(fd_, -1));
        }
    }

private:
    static constexpr std::chrono::milliseconds kKept{20};
    std::string node_;
    int fd_ = -1;
    std::chrono::steady_clock::time_point at_;
};
thread_local ParkedNode parked;

// The interface path names: from this thread's last listing, else read from that interface alone.
std::optional<linux_hid::HidInterface> InterfaceAt(const std::string& path) {
    const auto listed = std::ranges::find(listedHere, path, &linux_hid::HidInterface::devicePath);
    if (listed != listedHere.end()) {
        return *listed;
    }
    return linux_hid::LookUpHidInterface(path);
}

class LinuxDeviceInterfaces final : public DeviceInterfaces {
public:
    // Only the HID class has interfaces here; any other class has none.
    std::optional<std::vector<InterfaceEntry>> Enumerate(const Guid& classGuid) override {
        std::vector<InterfaceEntry> entries;
        if (classGuid != linux_hid::kHidClassGuid) {
            return entries;
        }
        parked.Drop();
        listedHere = linux_hid::ListHidInterfaces();
        for (const linux_hid::HidInterface& interface : listedHere) {
            InterfaceEntry entry;
            entry.present = true;
            entry.devicePath = interface.devicePath;
            // A list of one zero-terminated string, ended by an empty one.
            entry.locationPaths = interface.locationPath + std::string(2, '\0');
            entry.locationInformation = interface.locationInformation;
            entries.push_back(std::move(entry));
        }
        return entries;
    }

    // Never lists the interfaces again: a scan that opens each listed interface costs one
    // listing. A path that names no HID interface is opened as a hidraw node.
    DeviceHandle Open(const std::string& devicePath, SystemError& error) override {
        const std::optional<linux_hid::HidInterface> interface = InterfaceAt(devicePath);
        linux_hid::OpenInterface opened;
        int code = 0;
        if (interface && linux_hid::ChooseTransport(*interface) == Transport::kUsb) {
            auto usb =
                usbfs::UsbInterface::Open(interface->usbNode, interface->interfaceNumber, code);
            if (usb) {
                opened = std::move(usb);
            }
        } else {
            // A detached interface has no hidraw node to open.
            const std::string node = interface ? interface->hidrawNode : devicePath;
            int fd = node.empty() ? -1 : parked.Take(node);
            if (fd < 0 && !node.empty()) {
                fd = ::open(node.c_str(), O_RDWR | O_CLOEXEC);
            }
            code = node.empty() ? ENOENT : fd < 0 ? errno : 0;
            opened = linux_hid::HidrawNode{fd, interface ? interface->release : std::nullopt, node};
        }
        if (code != 0) {
            error = DescribeSystemError(static_cast<std::uint32_t>(code));
            return {};
        }
        return DeviceHandle{
            reinterpret_cast<std::uintptr_t>(new linux_hid::OpenInterface(std::move(opened)))};
    }

    bool Close(DeviceHandle handle, SystemError&) override {
        auto* opened = &linux_hid::ToInterface(handle);
        if (auto* node = std::get_if<linux_hid::HidrawNode>(opened)) {
            parked.Keep(std::move(node->node), node->fd);
        }
        // A usbfs interface is given back to its driver when its last handle goes.
        delete opened;
        return true;
    }

    // The HID interfaces have no USB function driver behind them: its control codes fail as the HID
    // class driver's do under Windows, and nothing is written.
    bool IoControl(DeviceHandle, std::uint32_t, std::span<std::uint8_t>,
                   std::uint32_t& bytesReturned, SystemError& error) override {
        bytesReturned = 0;
        error.code = ENOTTY;
        return false;
    }

    bool BeginIoControl(DeviceHandle, std::uint32_t, std::span<std::uint8_t>,
                        std::span<std::uint8_t>, AsyncIo&, SystemError& error) override {
        error.code = ENOTTY;
        return false;
    }

    // No request ever starts, so there is never a result to take or a request to wait for.
    bool GetIoResult(DeviceHandle, AsyncIo&, std::uint32_t& bytes) override {
        bytes = 0;
        return false;
    }
    bool CreateIo(AsyncIo&) override { return false; }
    void CloseIo(AsyncIo& io) override { io = AsyncIo{}; }
    bool WaitIo(AsyncIo&, std::uint32_t) override { return true; }

    // No window receives device changes here.
    NotificationHandle RegisterInterfaceNotification(WindowHandle, const Guid&,
                                                     SystemError& error) override {
        error.code = EOPNOTSUPP;
        return {};
    }
    NotificationHandle RegisterHandleNotification(WindowHandle, DeviceHandle,
                                                  SystemError& error) override {
        error.code = EOPNOTSUPP;
        return {};
    }
    bool UnregisterNotification(NotificationHandle, SystemError& error) override {
        error.code = EOPNOTSUPP;
        return false;
    }
};

}  // namespace

namespace linux_hid {

OpenInterface& ToInterface(DeviceHandle handle) {
    return *reinterpret_cast<OpenInterface*>(handle.value);
}

}  // namespace linux_hid

DeviceInterfaces& SystemDeviceInterfaces() {
    static LinuxDeviceInterfaces interfaces;
    return interfaces;
}

}  // namespace torvane
