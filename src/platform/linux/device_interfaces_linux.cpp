// Device interfaces seam on libudev, hidraw and usbfs: the HID interfaces are the USB interfaces
// of the HID class and the hidraw nodes without one; a handle reaches an interface through its
// hidraw node or through usbfs, as ChooseTransport decides.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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
    // listing. Opens no node either: the handle holds what the listing read, and the node opens
    // at the first exchange; this open only fails where that one would for want of the node or
    // of the right to open it.
    DeviceHandle Open(const std::string& devicePath, SystemError& error) override {
        std::optional<linux_hid::HidInterface> interface = InterfaceAt(devicePath);
        const Transport transport =
            interface ? linux_hid::ChooseTransport(*interface) : Transport::kHidraw;
        // A detached interface has no hidraw node to open.
        const int code = interface ? linux_hid::AccessError(*interface, transport) : ENOENT;
        if (code != 0) {
            error = DescribeSystemError(static_cast<std::uint32_t>(code));
            return {};
        }
        return DeviceHandle{reinterpret_cast<std::uintptr_t>(
            new linux_hid::OpenInterface(std::move(*interface), transport))};
    }

    bool Close(DeviceHandle handle, SystemError&) override {
        delete &linux_hid::ToInterface(handle);
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

OpenInterface::~OpenInterface() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

int OpenInterface::Hidraw(int& error) {
    if (fd_ < 0) {
        fd_ = ::open(interface.hidrawNode.c_str(), O_RDWR | O_CLOEXEC);
        error = fd_ < 0 ? errno : 0;
    }
    return fd_;
}

usbfs::UsbInterface* OpenInterface::Usb(int& error) {
    if (!usb_) {
        usb_ = usbfs::UsbInterface::Open(interface.usbNode, interface.interfaceNumber, error);
    }
    return usb_.get();
}

OpenInterface& ToInterface(DeviceHandle handle) {
    return *reinterpret_cast<OpenInterface*>(handle.value);
}

}  // namespace linux_hid

DeviceInterfaces& SystemDeviceInterfaces() {
    static LinuxDeviceInterfaces interfaces;
    return interfaces;
}

}  // namespace torvane
