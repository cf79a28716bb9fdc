// The virtual bus: simulated functions at fixed ports, enumerated, opened and talked to by handle,
// with device-change notifications for registered windows. Any thread may use it at any time:
// the bus's own lock guards only its ports, handles and registrations and is never held while a
// function works, so that threads driving different functions do not wait for each other.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "sim/sim_function.h"

namespace torvane::sim {

// One present interface as an enumeration lists it.
struct BusEntry {
    std::string devicePath;
    std::string locationPath;
    // The location-paths property: locationPath, then the port's ACPI path, each zero-terminated,
    // then a final zero; none, as some systems give, for an interface without a location path.
    std::optional<std::string> locationPaths;
    std::string locationInformation;
};

class VirtualBus {
public:
    explicit VirtualBus(Clock& clock) : clock_(clock) {}
    VirtualBus(const VirtualBus&) = delete;
    VirtualBus& operator=(const VirtualBus&) = delete;

    Clock& clock() { return clock_; }

    // Plugs function into the next free port; ports keep their order for the bus's life.
    void Attach(std::shared_ptr<SimFunction> function);

    // The interfaces of classGuid present now, in port order.
    std::vector<BusEntry> Enumerate(const Guid& classGuid);

    // Opens the present interface with this device path; an empty handle and the system's error
    // when there is none or its function refuses the open.
    DeviceHandle Open(std::string_view devicePath, SystemError& error);
    // False for a handle that is not open.
    bool Close(DeviceHandle handle);

    // HID requests on an open handle of a HID interface; they fail once the interface has left
    // the bus, even when the same function has come back since.
    bool GetAttributes(DeviceHandle handle, HidAttributes& attributes);
    bool GetSerialNumber(DeviceHandle handle, std::string& serial);
    bool GetCaps(DeviceHandle handle, HidCaps& caps);
    // A report the function refuses fails with kErrorGenFailure, as a stalled request does.
    bool SetOutputReport(DeviceHandle handle, std::span<const std::uint8_t> report,
                         SystemError& error);
    bool GetInputReport(DeviceHandle handle, std::span<std::uint8_t> report, SystemError& error);

    // One I/O control request to the function behind an open handle; input and output may be
    // the same memory. Fails with kErrorInvalidHandle for a handle that is not open and with
    // kErrorDeviceNotConnected once its interface has left the bus.
    bool IoControl(DeviceHandle handle, std::uint32_t code, std::span<std::uint8_t> input,
                   std::span<std::uint8_t> output, std::uint32_t& bytesReturned,
                   SystemError& error);

    // Registrations of window for device-change notifications, kept as the system keeps them;
    // the simulated devices announce nothing. An empty window fails with
    // kErrorInvalidParameter; a handle that is not open, or whose interface has gone, with the
    // errors of IoControl.
    NotificationHandle RegisterInterfaceNotification(WindowHandle window, SystemError& error);
    NotificationHandle RegisterHandleNotification(WindowHandle window, DeviceHandle handle,
                                                  SystemError& error);
    // Ends a registration; kErrorInvalidHandle for a registration that is not held.
    bool UnregisterNotification(NotificationHandle notification, SystemError& error);

private:
    struct OpenInterface {
        std::size_t port;
        std::uint32_t generation;
    };

    static std::string DevicePath(std::size_t port, const SimInterface& shown);
    // The functions at the ports now, in port order.
    std::vector<std::shared_ptr<SimFunction>> Ports();
    // The function at the port devicePath names, and that port; nullptr when it names none.
    std::shared_ptr<SimFunction> Port(std::string_view devicePath, std::size_t& port);
    // Runs request(function, shown, now) under the function's lock while the interface opened as
    // handle is the one on the bus; otherwise false and the reason in error. now is read under
    // that lock, so that each function sees its time only move forward.
    template <typename Request>
    bool Serve(DeviceHandle handle, SystemError& error, Request request);
    // A report served as Serve serves requests; a report the function refuses fails as the
    // device's leaving or as a stall, with the error in the simulated system's words.
    template <typename Report>
    bool Transfer(DeviceHandle handle, SystemError& error, Report report);

    // More ports than a path's number may name: parsing stops before it can overflow.
    static constexpr std::size_t kMaxPorts = 1 << 20;

    Clock& clock_;
    std::mutex mutex_;  // guards the members below
    std::vector<std::shared_ptr<SimFunction>> ports_;
    std::map<std::uintptr_t, OpenInterface> handles_;
    std::uintptr_t nextHandle_ = 0x1000;
    std::map<std::uintptr_t, std::uintptr_t> registrations_;  // registration -> window
    std::uintptr_t nextRegistration_ = 0x5000;
};

}  // namespace torvane::sim
