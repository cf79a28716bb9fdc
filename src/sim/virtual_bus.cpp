#include "sim/virtual_bus.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace torvane::sim {

void VirtualBus::Attach(std::shared_ptr<SimFunction> function) {
    std::lock_guard lock(mutex_);
    ports_.push_back(std::move(function));
}

std::string VirtualBus::DevicePath(std::size_t port, const SimInterface& shown) {
    std::string guid = FormatGuid(shown.classGuid);
    for (char& c : guid) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const char* bus = shown.classGuid == kHidClassGuid ? "hid" : "usb";
    char path[160];
    std::snprintf(path, sizeof path, "\\\\?\\%s#vid_%04x&pid_%04x#sim&%zu&%u#%s", bus,
                  shown.vendorId, shown.productId, port + 1,
                  static_cast<unsigned>(shown.generation), guid.c_str());
    return path;
}

std::vector<std::shared_ptr<SimFunction>> VirtualBus::Ports() {
    std::lock_guard lock(mutex_);
    return ports_;
}

std::vector<BusEntry> VirtualBus::Enumerate(const Guid& classGuid) {
    const std::vector<std::shared_ptr<SimFunction>> ports = Ports();
    std::vector<BusEntry> entries;
    for (std::size_t port = 0; port < ports.size(); ++port) {
        std::optional<SimInterface> shown;
        {
            std::lock_guard lock(ports[port]->mutex());
            shown = ports[port]->Interface(clock_.TickCount());
        }
        if (!shown || shown->classGuid != classGuid) {
            continue;
        }
        char acpi[80];
        std::snprintf(acpi, sizeof acpi,
                      "ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)#ACPI(RHUB)#ACPI(HS%02zu)", port + 1);
        std::optional<std::string> paths;
        if (!shown->locationPath.empty()) {
            paths = shown->locationPath + '\0' + acpi + '\0' + '\0';
        }
        char information[40];
        std::snprintf(information, sizeof information, "Port_#%04zu.Hub_#0001", port + 1);
        entries.push_back({DevicePath(port, *shown), shown->locationPath, paths, information});
    }
    return entries;
}

std::shared_ptr<SimFunction> VirtualBus::Port(std::string_view devicePath, std::size_t& port) {
    // A path names its port as "#sim&<port from 1>&": the system finds an interface by its
    // path without looking at every other one, and so does the bus.
    constexpr std::string_view kMark = "#sim&";
    const std::size_t at = devicePath.find(kMark);
    if (at == std::string_view::npos) {
        return nullptr;
    }
    std::size_t number = 0;
    std::size_t i = at + kMark.size();
    for (; i < devicePath.size() && std::isdigit(static_cast<unsigned char>(devicePath[i])) &&
           number <= kMaxPorts;
         ++i) {
        number = number * 10 + static_cast<std::size_t>(devicePath[i] - '0');
    }
    std::lock_guard lock(mutex_);
    if (i == at + kMark.size() || number == 0 || number > ports_.size()) {
        return nullptr;
    }
    port = number - 1;
    return ports_[port];
}

DeviceHandle VirtualBus::Open(std::string_view devicePath, SystemError& error) {
    std::size_t port = 0;
    const std::shared_ptr<SimFunction> function = Port(devicePath, port);
    error = SimError(kErrorFileNotFound);
    if (!function) {
        return {};
    }
    std::optional<SimInterface> shown;
    bool opened = false;
    {
        std::lock_guard lock(function->mutex());
        shown = function->Interface(clock_.TickCount());
        opened = shown && DevicePath(port, *shown) == devicePath && function->Open();
    }
    if (!opened) {
        error = SimError(shown ? kErrorAccessDenied : kErrorFileNotFound);
        return {};
    }
    std::lock_guard lock(mutex_);
    const DeviceHandle handle{nextHandle_};
    nextHandle_ += 4;
    handles_[handle.value] = {port, shown->generation};
    return handle;
}

bool VirtualBus::Close(DeviceHandle handle) {
    std::lock_guard lock(mutex_);
    return handles_.erase(handle.value) == 1;
}

template <typename Request>
bool VirtualBus::Serve(DeviceHandle handle, SystemError& error, Request request) {
    std::shared_ptr<SimFunction> function;
    std::uint32_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        const auto open = handles_.find(handle.value);
        if (open == handles_.end()) {
            error.code = kErrorInvalidHandle;
            return false;
        }
        function = ports_[open->second.port];
        generation = open->second.generation;
    }
    std::lock_guard lock(function->mutex());
    const std::uint32_t now = clock_.TickCount();
    const std::optional<SimInterface> shown = function->Interface(now);
    if (!shown || shown->generation != generation) {
        error.code = kErrorDeviceNotConnected;
        return false;
    }
    return request(*function, *shown, now);
}

bool VirtualBus::GetAttributes(DeviceHandle handle, HidAttributes& attributes) {
    SystemError error;
    return Serve(handle, error, [&](SimFunction&, const SimInterface& shown, std::uint32_t) {
        if (shown.classGuid != kHidClassGuid) {
            return false;
        }
        attributes.size = 12;
        attributes.vendorId = shown.vendorId;
        attributes.productId = shown.productId;
        attributes.versionNumber = shown.versionNumber;
        return true;
    });
}

bool VirtualBus::GetSerialNumber(DeviceHandle handle, std::string& serial) {
    SystemError error;
    return Serve(handle, error, [&](SimFunction&, const SimInterface& shown, std::uint32_t) {
        serial = shown.serial;
        return shown.classGuid == kHidClassGuid && !serial.empty();
    });
}

bool VirtualBus::GetCaps(DeviceHandle handle, HidCaps& caps) {
    SystemError error;
    return Serve(handle, error, [&](SimFunction&, const SimInterface& shown, std::uint32_t) {
        if (shown.classGuid != kHidClassGuid) {
            return false;
        }
        caps = shown.caps;
        return true;
    });
}

namespace {

// A report the function refused: the device left the bus with it, or it stalled the request.
bool Refused(SimFunction& function, const SimInterface& shown, std::uint32_t now,
             SystemError& error) {
    const std::optional<SimInterface> after = function.Interface(now);
    error.code = after && after->generation == shown.generation ? kErrorGenFailure
                                                                : kErrorDeviceNotConnected;
    return false;
}

}  // namespace

template <typename Report>
bool VirtualBus::Transfer(DeviceHandle handle, SystemError& error, Report report) {
    const bool done = Serve(
        handle, error, [&](SimFunction& function, const SimInterface& shown, std::uint32_t now) {
            return report(function, now) || Refused(function, shown, now, error);
        });
    if (!done) {
        error = SimError(error.code);
    }
    return done;
}

bool VirtualBus::SetOutputReport(DeviceHandle handle, std::span<const std::uint8_t> report,
                                 SystemError& error) {
    return Transfer(handle, error, [&](SimFunction& function, std::uint32_t now) {
        return function.OutputReport(now, report);
    });
}

bool VirtualBus::GetInputReport(DeviceHandle handle, std::span<std::uint8_t> report,
                                SystemError& error) {
    return Transfer(handle, error, [&](SimFunction& function, std::uint32_t now) {
        return function.InputReport(now, report);
    });
}

bool VirtualBus::IoControl(DeviceHandle handle, std::uint32_t code, std::span<std::uint8_t> input,
                           std::span<std::uint8_t> output, std::uint32_t& bytesReturned,
                           SystemError& error) {
    bytesReturned = 0;
    return Serve(handle, error, [&](SimFunction& function, const SimInterface&, std::uint32_t now) {
        // The function sees the request as it was sent, whatever it writes into output. Where
        // input and output are apart, the driver works on the caller's input itself, so what it
        // writes there goes back.
        std::vector<std::uint8_t> request(input.begin(), input.end());
        const bool ok = function.IoControl(now, code, request, output, bytesReturned, error);
        if (input.data() != output.data()) {
            std::copy(request.begin(), request.end(), input.begin());
        }
        return ok;
    });
}

NotificationHandle VirtualBus::RegisterInterfaceNotification(WindowHandle window,
                                                             SystemError& error) {
    std::lock_guard lock(mutex_);
    if (!window) {
        error.code = kErrorInvalidParameter;
        return {};
    }
    const NotificationHandle notification{nextRegistration_};
    nextRegistration_ += 4;
    registrations_[notification.value] = window.value;
    return notification;
}

NotificationHandle VirtualBus::RegisterHandleNotification(WindowHandle window, DeviceHandle handle,
                                                          SystemError& error) {
    if (!window) {
        error.code = kErrorInvalidParameter;
        return {};
    }
    if (!Serve(handle, error,
               [](SimFunction&, const SimInterface&, std::uint32_t) { return true; })) {
        return {};
    }
    std::lock_guard lock(mutex_);
    const NotificationHandle notification{nextRegistration_};
    nextRegistration_ += 4;
    registrations_[notification.value] = window.value;
    return notification;
}

bool VirtualBus::UnregisterNotification(NotificationHandle notification, SystemError& error) {
    std::lock_guard lock(mutex_);
    if (registrations_.count(notification.value) == 0) {
        error.code = kErrorInvalidHandle;
        return false;
    }
    registrations_.erase(notification.value);
    return true;
}

}  // namespace torvane::sim
