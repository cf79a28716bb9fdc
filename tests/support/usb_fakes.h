// A device interfaces fake that gives the enumerations it is told and keeps count of the handles
// it opened, and builders of descriptors and request blocks.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/device_interfaces.h"

namespace torvane::test {

using Bytes = std::vector<std::uint8_t>;

class FakeDevice final : public DeviceInterfaces {
public:
    std::optional<std::vector<InterfaceEntry>> Enumerate(const Guid&) override {
        if (enumerations.empty()) {
            return {};
        }
        auto next = enumerations.front();
        if (enumerations.size() > 1) {
            enumerations.erase(enumerations.begin());
        }
        return next;
    }
    DeviceHandle Open(const std::string&, SystemError&) override {
        openHandles.insert(++lastHandle);
        return {lastHandle};
    }
    bool Close(DeviceHandle handle, SystemError&) override {
        return openHandles.erase(handle.value) == 1;
    }
    bool IoControl(DeviceHandle, std::uint32_t, std::span<std::uint8_t>, std::uint32_t&,
                   SystemError&) override {
        return false;
    }
    bool BeginIoControl(DeviceHandle, std::uint32_t, std::span<std::uint8_t>,
                        std::span<std::uint8_t>, AsyncIo&, SystemError&) override {
        return false;
    }
    bool GetIoResult(DeviceHandle, AsyncIo&, std::uint32_t&) override { return false; }
    bool CreateIo(AsyncIo&) override { return false; }
    void CloseIo(AsyncIo&) override {}
    bool WaitIo(AsyncIo&, std::uint32_t) override { return false; }
    NotificationHandle RegisterInterfaceNotification(WindowHandle, const Guid&,
                                                     SystemError&) override {
        return {};
    }
    NotificationHandle RegisterHandleNotification(WindowHandle, DeviceHandle,
                                                  SystemError&) override {
        return {};
    }
    bool UnregisterNotification(NotificationHandle, SystemError&) override { return false; }

    // Answered in turn, the last one again and again; none: no information set.
    std::vector<std::optional<std::vector<InterfaceEntry>>> enumerations;
    std::set<std::uintptr_t> openHandles;
    std::uintptr_t lastHandle = 0;
};

inline Bytes Endpoint(std::uint8_t address, std::uint8_t attributes, std::uint16_t maxPacket) {
    return {7, 5, address, attributes, std::uint8_t(maxPacket), std::uint8_t(maxPacket >> 8), 1};
}

// A request block of size bytes (its header cut short below 38), zero past the header: 32-bit
// little-endian header fields written in order, so that a later one overwrites the upper bytes
// of an earlier one. With header = size, packet records the same way.
inline Bytes Block(std::size_t size,
                   std::initializer_list<std::pair<std::size_t, std::uint32_t>> fields,
                   std::size_t header = 38) {
    Bytes bytes(std::max(size, header));
    for (const auto& [at, value] : fields) {
        for (std::size_t i = 0; i < 4 && at + i < header; ++i) {
            bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
        }
    }
    bytes.resize(size);
    return bytes;
}

}  // namespace torvane::test
