// Small value types the core uses instead of the operating system's own.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace torvane {

// An open device handle; 0 means none. The Win32 backend stores a HANDLE here.
struct DeviceHandle {
    std::uintptr_t value = 0;

    explicit operator bool() const { return value != 0; }
    friend bool operator==(DeviceHandle, DeviceHandle) = default;
};

// A 16-byte interface class GUID, laid out as the system lays it out.
struct Guid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::array<std::uint8_t, 8> data4{};

    friend bool operator==(const Guid&, const Guid&) = default;
};

// "{4D1E55B2-F16F-11CF-88CB-001111000030}" form, upper-case hex.
std::string FormatGuid(const Guid& guid);

// A window that receives device-change notifications; 0 means none.
struct WindowHandle {
    std::uintptr_t value = 0;

    explicit operator bool() const { return value != 0; }
};

// A device-change notification registration; 0 means none.
struct NotificationHandle {
    std::uintptr_t value = 0;

    explicit operator bool() const { return value != 0; }
    friend bool operator==(NotificationHandle, NotificationHandle) = default;
};

// A system error code as the platform reports it (GetLastError, errno), with what the backend
// that saw it made of it: the system's own words and whether they say the device has gone.
struct SystemError {
    std::uint32_t code = 0;
    std::string text;
    bool gone = false;
};

// The error of code as this system's backend describes it (strerror, FormatMessage).
SystemError DescribeSystemError(std::uint32_t code);

}  // namespace torvane
