// Device interfaces seam on libudev and hidraw: the HID interfaces are the hidraw nodes.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/device_interfaces.h"
#include "platform/linux/hidraw.h"

namespace torvane {
namespace {

class LinuxDeviceInterfaces final : public DeviceInterfaces {
public:
    // Only the HID class has interfaces here; any other class has none.
    std::optional<std::vector<InterfaceEntry>> Enumerate(const Guid& classGuid) override {
        std::vector<InterfaceEntry> entries;
        if (classGuid != hidraw::kHidClassGuid) {
            return entries;
        }
        for (hidraw::Node& node : hidraw::ListNodes()) {
            InterfaceEntry entry;
            entry.present = true;
            entry.devicePath = std::move(node.devnode);
            // A list of one zero-terminated string, ended by an empty one.
            entry.locationPaths = node.locationPath + std::string(2, '\0');
            entry.locationInformation = std::move(node.locationInformation);
            entries.push_back(std::move(entry));
        }
        return entries;
    }

    DeviceHandle Open(const std::string& devicePath, SystemError& error) override {
        const int fd = ::open(devicePath.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            error.code = static_cast<std::uint32_t>(errno);
            return {};
        }
        auto* node = new hidraw::OpenNode{fd, std::nullopt};
        for (const hidraw::Node& listed : hidraw::ListNodes()) {
            if (listed.devnode == devicePath) {
                node->release = listed.release;
            }
        }
        return DeviceHandle{reinterpret_cast<std::uintptr_t>(node)};
    }

    bool Close(DeviceHandle handle, SystemError& error) override {
        hidraw::OpenNode* node = &hidraw::ToNode(handle);
        const int result = ::close(node->fd);
        const int closeError = errno;
        delete node;
        // The descriptor is released even when close reports an error.
        if (result < 0) {
            error.code = static_cast<std::uint32_t>(closeError);
            return false;
        }
        return true;
    }

    // hidraw has no USB function driver behind it: its control codes fail as the HID class
    // driver's do under Windows, and nothing is written.
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

DeviceInterfaces& SystemDeviceInterfaces() {
    static LinuxDeviceInterfaces interfaces;
    return interfaces;
}

}  // namespace torvane
