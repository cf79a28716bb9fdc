// Device interfaces seam: the present interfaces of a device interface class, their handles,
// the I/O control channel to the driver behind a handle, and device-change notifications.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/types.h"

namespace torvane {

// System error codes the core tells apart; the backends report the system's own values.
inline constexpr std::uint32_t kErrorInvalidFunction = 1;
inline constexpr std::uint32_t kErrorNoMoreItems = 259;
inline constexpr std::uint32_t kErrorIoPending = 997;

// One member of an enumeration of present interfaces, by member index.
struct InterfaceEntry {
    // False when the system could not give the interface at this index (the index is skipped
    // by a count).
    bool present = false;
    // The interface's device path; nullopt when its detail could not be read.
    std::optional<std::string> devicePath;
    // Properties of the device information element at the same index; nullopt when unreadable.
    // locationPaths is the raw list: zero-terminated strings, one after another.
    std::optional<std::string> locationPaths;
    std::optional<std::string> locationInformation;
};

// The record of one overlapped request, made by CreateIo and owned by the caller: the event is
// what the caller waits on (and what traces print), state is the backend's own.
struct AsyncIo {
    std::uintptr_t event = 0;
    void* state = nullptr;
};

class DeviceInterfaces {
public:
    virtual ~DeviceInterfaces() = default;

    // The present interfaces of classGuid in the system's order, members 0, 1, 2, ... until the
    // system reports no more items; nullopt when the system gives no information set at all.
    virtual std::optional<std::vector<InterfaceEntry>> Enumerate(const Guid& classGuid) = 0;

    // Opens devicePath for reading and writing, shared, for overlapped I/O. Empty handle and
    // the system's error on failure.
    virtual DeviceHandle Open(const std::string& devicePath, SystemError& error) = 0;
    // Closes a handle from Open; false and the error on failure.
    virtual bool Close(DeviceHandle handle, SystemError& error) = 0;

    // One I/O control request, complete when it returns: buffer is the input and the output.
    // bytesReturned is what the driver wrote back; false and the error when the request failed.
    virtual bool IoControl(DeviceHandle handle, std::uint32_t code, std::span<std::uint8_t> buffer,
                           std::uint32_t& bytesReturned, SystemError& error) = 0;

    // Starts an overlapped I/O control request with input and output buffers (which may be the
    // same memory); they and io stay valid until the result has been taken. A driver that takes
    // its buffers directly may also write into input (statuses and records of a request block).
    // Returns the request's immediate result; error holds the system's code (kErrorIoPending
    // while queued).
    virtual bool BeginIoControl(DeviceHandle handle, std::uint32_t code,
                                std::span<std::uint8_t> input, std::span<std::uint8_t> output,
                                AsyncIo& io, SystemError& error) = 0;
    // The result of a request started with io, without waiting: false while it is pending or when
    // it failed; bytes is the count the driver reported.
    virtual bool GetIoResult(DeviceHandle handle, AsyncIo& io, std::uint32_t& bytes) = 0;
    // Makes io ready for requests (an event and the backend's state); CloseIo releases both.
    virtual bool CreateIo(AsyncIo& io) = 0;
    virtual void CloseIo(AsyncIo& io) = 0;
    // Waits up to timeoutMs for the request started with io to complete; false on time-out.
    virtual bool WaitIo(AsyncIo& io, std::uint32_t timeoutMs) = 0;

    // Announces arrival and removal of interfaces of classGuid to window.
    virtual NotificationHandle RegisterInterfaceNotification(WindowHandle window,
                                                             const Guid& classGuid,
                                                             SystemError& error) = 0;
    // Announces events of an open handle to window.
    virtual NotificationHandle RegisterHandleNotification(WindowHandle window, DeviceHandle handle,
                                                          SystemError& error) = 0;
    virtual bool UnregisterNotification(NotificationHandle notification, SystemError& error) = 0;
};

// The device interfaces of this system.
DeviceInterfaces& SystemDeviceInterfaces();

}  // namespace torvane
