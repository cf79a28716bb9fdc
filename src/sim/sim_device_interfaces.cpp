#include "sim/sim_device_interfaces.h"

namespace torvane::sim {
namespace {

// The record of an overlapped request, kept in AsyncIo::state.
struct SimIo {
    bool begun = false;
    bool succeeded = false;
    std::uint32_t bytes = 0;
};

}  // namespace

std::optional<std::vector<InterfaceEntry>> SimDeviceInterfaces::Enumerate(const Guid& classGuid) {
    std::vector<InterfaceEntry> entries;
    for (BusEntry& bus : bus_.Enumerate(classGuid)) {
        InterfaceEntry entry;
        entry.present = true;
        entry.devicePath = std::move(bus.devicePath);
        entry.locationPaths = std::move(bus.locationPaths);
        entry.locationInformation = std::move(bus.locationInformation);
        entries.push_back(std::move(entry));
    }
    return entries;
}

DeviceHandle SimDeviceInterfaces::Open(const std::string& devicePath, SystemError& error) {
    return bus_.Open(devicePath, error);
}

bool SimDeviceInterfaces::Close(DeviceHandle handle, SystemError& error) {
    if (const std::uint32_t code = failNextClose_.exchange(0)) {
        error.code = code;
        return false;
    }
    if (!bus_.Close(handle)) {
        error.code = kErrorInvalidHandle;
        return false;
    }
    return true;
}

bool SimDeviceInterfaces::IoControl(DeviceHandle handle, std::uint32_t code,
                                    std::span<std::uint8_t> buffer, std::uint32_t& bytesReturned,
                                    SystemError& error) {
    return bus_.IoControl(handle, code, buffer, buffer, bytesReturned, error);
}

bool SimDeviceInterfaces::BeginIoControl(DeviceHandle handle, std::uint32_t code,
                                         std::span<std::uint8_t> input,
                                         std::span<std::uint8_t> output, AsyncIo& io,
                                         SystemError& error) {
    auto* state = static_cast<SimIo*>(io.state);
    if (state == nullptr) {
        error.code = kErrorInvalidParameter;
        return false;
    }
    *state = SimIo{};
    state->succeeded = bus_.IoControl(handle, code, input, output, state->bytes, error);
    state->begun = true;
    if (state->succeeded) {
        error.code = kErrorIoPending;
    }
    return false;
}

bool SimDeviceInterfaces::GetIoResult(DeviceHandle, AsyncIo& io, std::uint32_t& bytes) {
    const auto* state = static_cast<const SimIo*>(io.state);
    if (state == nullptr || !state->begun) {
        bytes = 0;
        return false;
    }
    bytes = state->bytes;
    return state->succeeded;
}

bool SimDeviceInterfaces::CreateIo(AsyncIo& io) {
    io.state = new SimIo;
    io.event = nextEvent_.fetch_add(4);
    return true;
}

void SimDeviceInterfaces::CloseIo(AsyncIo& io) {
    delete static_cast<SimIo*>(io.state);
    io = AsyncIo{};
}

bool SimDeviceInterfaces::WaitIo(AsyncIo& io, std::uint32_t timeoutMs) {
    const auto* state = static_cast<const SimIo*>(io.state);
    if (state != nullptr && state->begun) {
        return true;
    }
    // Nothing will complete: the wait takes its whole time on the bus's clock.
    bus_.clock().Sleep(timeoutMs);
    return false;
}

NotificationHandle SimDeviceInterfaces::RegisterInterfaceNotification(WindowHandle window,
                                                                      const Guid& /*classGuid*/,
                                                                      SystemError& error) {
    return bus_.RegisterInterfaceNotification(window, error);
}

NotificationHandle SimDeviceInterfaces::RegisterHandleNotification(WindowHandle window,
                                                                   DeviceHandle handle,
                                                                   SystemError& error) {
    return bus_.RegisterHandleNotification(window, handle, error);
}

bool SimDeviceInterfaces::UnregisterNotification(NotificationHandle notification,
                                                 SystemError& error) {
    if (const std::uint32_t code = failUnregister_.load()) {
        error.code = code;
        return false;
    }
    return bus_.UnregisterNotification(notification, error);
}

}  // namespace torvane::sim
