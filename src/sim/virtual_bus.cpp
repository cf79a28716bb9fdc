#include "sim/virtual_bus.h"

#include <cctype>
#include <cstdio>

namespace torvane::sim {

void VirtualBus::Attach(std::shared_ptr<SimFunction> function) {
    std::lock_guard lock(mutex_);
    ports_.push_back(std::move(function));
}

std::string VirtualBus::DevicePath(std::size_t port, const SimInterface& interface) {
    std::string guid = FormatGuid(interface.classGuid);
    for (char& c : guid) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    char path[160];
    std::snprintf(path, sizeof path, "\\\\?\\hid#vid_%04x&pid_%04x#sim&%zu&%u#%s",
                  interface.vendorId, interface.productId, port + 1,
                  static_cast<unsigned>(interface.generation), guid.c_str());
    return path;
}

std::vector<BusEntry> VirtualBus::Enumerate(const Guid& classGuid) {
    std::lock_guard lock(mutex_);
    const std::uint32_t now = clock_.TickCount();
    std::vector<BusEntry> entries;
    for (std::size_t port = 0; port < ports_.size(); ++port) {
        const std::optional<SimInterface> interface = ports_[port]->Interface(now);
        if (!interface || interface->classGuid != classGuid) {
            continue;
        }
        char information[40];
        std::snprintf(information, sizeof information, "Port_#%04zu.Hub_#0001", port + 1);
        entries.push_back({DevicePath(port, *interface), interface->locationPath, information});
    }
    return entries;
}

DeviceHandle VirtualBus::Open(std::string_view devicePath) {
    std::lock_guard lock(mutex_);
    const std::uint32_t now = clock_.TickCount();
    for (std::size_t port = 0; port < ports_.size(); ++port) {
        const std::optional<SimInterface> interface = ports_[port]->Interface(now);
        if (interface && DevicePath(port, *interface) == devicePath) {
            const DeviceHandle handle{nextHandle_};
            nextHandle_ += 4;
            handles_[handle.value] = {port, interface->generation};
            return handle;
        }
    }
    return {};
}

bool VirtualBus::Close(DeviceHandle handle) {
    std::lock_guard lock(mutex_);
    return handles_.erase(handle.value) == 1;
}

SimFunction* VirtualBus::Lookup(DeviceHandle handle, SimInterface* interface) {
    const auto open = handles_.find(handle.value);
    if (open == handles_.end()) {
        return nullptr;
    }
    SimFunction& function = *ports_[open->second.port];
    const std::optional<SimInterface> current = function.Interface(clock_.TickCount());
    if (!current || current->generation != open->second.generation) {
        return nullptr;
    }
    if (interface != nullptr) {
        *interface = *current;
    }
    return &function;
}

bool VirtualBus::GetAttributes(DeviceHandle handle, HidAttributes& attributes) {
    std::lock_guard lock(mutex_);
    SimInterface interface;
    if (Lookup(handle, &interface) == nullptr) {
        return false;
    }
    attributes.size = 12;
    attributes.vendorId = interface.vendorId;
    attributes.productId = interface.productId;
    attributes.versionNumber = interface.versionNumber;
    return true;
}

bool VirtualBus::GetCaps(DeviceHandle handle, HidCaps& caps) {
    std::lock_guard lock(mutex_);
    SimInterface interface;
    if (Lookup(handle, &interface) == nullptr) {
        return false;
    }
    caps = interface.caps;
    return true;
}

bool VirtualBus::SetOutputReport(DeviceHandle handle, std::span<const std::uint8_t> report) {
    std::lock_guard lock(mutex_);
    SimFunction* function = Lookup(handle, nullptr);
    return function != nullptr && function->OutputReport(clock_.TickCount(), report);
}

bool VirtualBus::GetInputReport(DeviceHandle handle, std::span<std::uint8_t> report) {
    std::lock_guard lock(mutex_);
    SimFunction* function = Lookup(handle, nullptr);
    return function != nullptr && function->InputReport(clock_.TickCount(), report);
}

}  // namespace torvane::sim
