// The device interfaces seam on the virtual bus. Overlapped requests complete as they start.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/device_interfaces.h"
#include "sim/virtual_bus.h"

namespace torvane::sim {

class SimDeviceInterfaces final : public DeviceInterfaces {
public:
    explicit SimDeviceInterfaces(VirtualBus& bus) : bus_(bus) {}

    // Every present interface of the class, in port order; the bus always gives a set.
    std::optional<std::vector<InterfaceEntry>> Enumerate(const Guid& classGuid) override;

    // kErrorFileNotFound for a path that no present interface has.
    DeviceHandle Open(const std::string& devicePath, SystemError& error) override;
    // kErrorInvalidHandle for a handle that is not open.
    bool Close(DeviceHandle handle, SystemError& error) override;

    bool IoControl(DeviceHandle handle, std::uint32_t code, std::span<std::uint8_t> buffer,
                   std::uint32_t& bytesReturned, SystemError& error) override;

    // Runs the request at once and records its result in io: a request that succeeded reports
    // kErrorIoPending, as one the driver has queued; a failed one its error.
    bool BeginIoControl(DeviceHandle handle, std::uint32_t code, std::span<std::uint8_t> input,
                        std::span<std::uint8_t> output, AsyncIo& io, SystemError& error) override;
    bool GetIoResult(DeviceHandle handle, AsyncIo& io, std::uint32_t& bytes) override;
    bool CreateIo(AsyncIo& io) override;
    void CloseIo(AsyncIo& io) override;
    // True at once when a request has been started with io, failed or not; otherwise the
    // time-out passes on the bus's clock and the result is false.
    bool WaitIo(AsyncIo& io, std::uint32_t timeoutMs) override;

    NotificationHandle RegisterInterfaceNotification(WindowHandle window, const Guid& classGuid,
                                                     SystemError& error) override;
    NotificationHandle RegisterHandleNotification(WindowHandle window, DeviceHandle handle,
                                                  SystemError& error) override;
    bool UnregisterNotification(NotificationHandle notification, SystemError& error) override;

    // Fault hooks. The next Close fails with code and leaves the handle open.
    void FailNextClose(std::uint32_t code) { failNextClose_ = code; }
    // Every UnregisterNotification fails with code and keeps the registration; 0 ends this.
    void FailUnregister(std::uint32_t code) { failUnregister_ = code; }

private:
    VirtualBus& bus_;
    std::atomic<std::uint32_t> failNextClose_{0};
    std::atomic<std::uint32_t> failUnregister_{0};
    std::atomic<std::uintptr_t> nextEvent_{0x9000};
};

}  // namespace torvane::sim
