// Device interfaces seam on SetupAPI, CreateFile, DeviceIoControl and USER32 notifications.
#include <windows.h>
// SetupAPI and the broadcast records need the base types above them.
#include <dbt.h>
#include <setupapi.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>

#include "platform/device_interfaces.h"

namespace torvane {
namespace {

HANDLE ToHandle(DeviceHandle handle) {
    return reinterpret_cast<HANDLE>(handle.value);
}

GUID ToSystem(const Guid& guid) {
    GUID system{guid.data1, guid.data2, guid.data3, {}};
    std::copy(guid.data4.begin(), guid.data4.end(), std::begin(system.Data4));
    return system;
}

// A registry property of a device information element, read with a size query first; nullopt
// when the system cannot give it.
std::optional<std::string> ReadProperty(HDEVINFO set, SP_DEVINFO_DATA& info, DWORD property) {
    // Some systems fail the size query without setting an error; only a size counts then.
    DWORD required = 0;
    if (!::SetupDiGetDeviceRegistryPropertyA(set, &info, property, nullptr, nullptr, 0,
                                             &required) &&
        (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || required == 0)) {
        return std::nullopt;
    }
    std::string value(required, '\0');
    if (required > 0 && !::SetupDiGetDeviceRegistryPropertyA(set, &info, property, nullptr,
                                                             reinterpret_cast<BYTE*>(value.data()),
                                                             required, &required)) {
        return std::nullopt;
    }
    value.resize(std::min<std::size_t>(required, value.size()));
    return value;
}

// The device path of an interface; nullopt when its detail cannot be read.
std::optional<std::string> ReadDevicePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& data) {
    constexpr std::size_t kPathAt = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    DWORD required = 0;
    ::SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr);
    if (required <= kPathAt) {
        return std::nullopt;
    }
    // DWORD storage keeps the record's alignment.
    std::vector<DWORD> storage((required + sizeof(DWORD) - 1) / sizeof(DWORD));
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!::SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr)) {
        return std::nullopt;
    }
    const char* path = reinterpret_cast<const char*>(storage.data()) + kPathAt;
    return std::string(path, ::strnlen(path, required - kPathAt));
}

// The backend's record of one overlapped request, kept in AsyncIo::state.
struct Win32Io {
    enum class Stage { Idle, FailedToStart, Started };

    OVERLAPPED overlapped{};
    // A request that failed to start has no result of the system's to ask for.
    Stage stage = Stage::Idle;
};

class Win32DeviceInterfaces final : public DeviceInterfaces {
public:
    std::optional<std::vector<InterfaceEntry>> Enumerate(const Guid& classGuid) override {
        const GUID guid = ToSystem(classGuid);
        const HDEVINFO set =
            ::SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (set == INVALID_HANDLE_VALUE) {
            return std::nullopt;
        }
        std::vector<InterfaceEntry> entries;
        for (DWORD index = 0;; ++index) {
            SP_DEVICE_INTERFACE_DATA data{};
            data.cbSize = sizeof data;
            if (!::SetupDiEnumDeviceInterfaces(set, nullptr, &guid, index, &data)) {
                if (::GetLastError() == ERROR_NO_MORE_ITEMS) {
                    break;
                }
                entries.emplace_back();  // not present: a count skips this index
                continue;
            }
            InterfaceEntry entry;
            entry.present = true;
            entry.devicePath = ReadDevicePath(set, data);
            SP_DEVINFO_DATA info{};
            info.cbSize = sizeof info;
            if (::SetupDiEnumDeviceInfo(set, index, &info)) {
                entry.locationPaths = ReadProperty(set, info, SPDRP_LOCATION_PATHS);
                // A text property: what follows its terminator is not part of it.
                if (std::optional<std::string> text =
                        ReadProperty(set, info, SPDRP_LOCATION_INFORMATION)) {
                    entry.locationInformation = text->substr(0, text->find('\0'));
                }
            }
            entries.push_back(std::move(entry));
        }
        ::SetupDiDestroyDeviceInfoList(set);
        return entries;
    }

    DeviceHandle Open(const std::string& devicePath, SystemError& error) override {
        const HANDLE handle = ::CreateFileA(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            error = DescribeSystemError(::GetLastError());
            return {};
        }
        return DeviceHandle{reinterpret_cast<std::uintptr_t>(handle)};
    }

    bool Close(DeviceHandle handle, SystemError& error) override {
        if (!::CloseHandle(ToHandle(handle))) {
            error.code = ::GetLastError();
            return false;
        }
        return true;
    }

    bool IoControl(DeviceHandle handle, std::uint32_t code, std::span<std::uint8_t> buffer,
                   std::uint32_t& bytesReturned, SystemError& error) override {
        // The handle is open for overlapped I/O: the request gets its own event to wait on.
        OVERLAPPED overlapped{};
        overlapped.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (overlapped.hEvent == nullptr) {
            error.code = ::GetLastError();
            bytesReturned = 0;
            return false;
        }
        const HANDLE device = ToHandle(handle);
        const DWORD size = static_cast<DWORD>(buffer.size());
        DWORD bytes = 0;
        BOOL ok = ::DeviceIoControl(device, code, buffer.data(), size, buffer.data(), size, &bytes,
                                    &overlapped);
        if (!ok && ::GetLastError() == ERROR_IO_PENDING) {
            ok = ::GetOverlappedResult(device, &overlapped, &bytes, TRUE);
        }
        if (!ok) {
            error.code = ::GetLastError();
        }
        ::CloseHandle(overlapped.hEvent);
        bytesReturned = bytes;
        return ok != FALSE;
    }

    bool BeginIoControl(DeviceHandle handle, std::uint32_t code, std::span<std::uint8_t> input,
                        std::span<std::uint8_t> output, AsyncIo& io, SystemError& error) override {
        auto* state = static_cast<Win32Io*>(io.state);
        if (state == nullptr) {
            error.code = ERROR_INVALID_PARAMETER;
            return false;
        }
        const HANDLE event = state->overlapped.hEvent;
        state->overlapped = OVERLAPPED{};
        state->overlapped.hEvent = event;
        DWORD bytes = 0;
        // The driver only reads the input buffer.
        const BOOL ok = ::DeviceIoControl(
            ToHandle(handle), code, input.data(), static_cast<DWORD>(input.size()), output.data(),
            static_cast<DWORD>(output.size()), &bytes, &state->overlapped);
        error.code = ::GetLastError();
        state->stage = ok || error.code == ERROR_IO_PENDING ? Win32Io::Stage::Started
                                                            : Win32Io::Stage::FailedToStart;
        return ok != FALSE;
    }

    bool GetIoResult(DeviceHandle handle, AsyncIo& io, std::uint32_t& bytes) override {
        auto* state = static_cast<Win32Io*>(io.state);
        DWORD count = 0;
        const bool ok = state != nullptr && state->stage == Win32Io::Stage::Started &&
                        ::GetOverlappedResult(ToHandle(handle), &state->overlapped, &count, FALSE);
        bytes = count;
        return ok;
    }

    bool CreateIo(AsyncIo& io) override {
        const HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (event == nullptr) {
            return false;
        }
        auto* state = new Win32Io;
        state->overlapped.hEvent = event;
        io.event = reinterpret_cast<std::uintptr_t>(event);
        io.state = state;
        return true;
    }

    void CloseIo(AsyncIo& io) override {
        delete static_cast<Win32Io*>(io.state);
        if (io.event != 0) {
            ::CloseHandle(reinterpret_cast<HANDLE>(io.event));
        }
        io = AsyncIo{};
    }

    // A request that failed to start is complete at once; its event is never signalled.
    bool WaitIo(AsyncIo& io, std::uint32_t timeoutMs) override {
        const auto* state = static_cast<const Win32Io*>(io.state);
        if (state != nullptr && state->stage == Win32Io::Stage::FailedToStart) {
            return true;
        }
        return ::WaitForSingleObject(reinterpret_cast<HANDLE>(io.event), timeoutMs) ==
               WAIT_OBJECT_0;
    }

    NotificationHandle RegisterInterfaceNotification(WindowHandle window, const Guid& classGuid,
                                                     SystemError& error) override {
        DEV_BROADCAST_DEVICEINTERFACE_A filter{};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = ToSystem(classGuid);
        return Register(window, &filter, error);
    }

    NotificationHandle RegisterHandleNotification(WindowHandle window, DeviceHandle handle,
                                                  SystemError& error) override {
        DEV_BROADCAST_HANDLE filter{};
        filter.dbch_size = sizeof filter;
        filter.dbch_devicetype = DBT_DEVTYP_HANDLE;
        filter.dbch_handle = ToHandle(handle);
        return Register(window, &filter, error);
    }

    bool UnregisterNotification(NotificationHandle notification, SystemError& error) override {
        if (!::UnregisterDeviceNotification(reinterpret_cast<HDEVNOTIFY>(notification.value))) {
            error.code = ::GetLastError();
            return false;
        }
        return true;
    }

private:
    static NotificationHandle Register(WindowHandle window, void* filter, SystemError& error) {
        const HDEVNOTIFY notification = ::RegisterDeviceNotificationA(
            reinterpret_cast<HWND>(window.value), filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        if (notification == nullptr) {
            error.code = ::GetLastError();
            return {};
        }
        return NotificationHandle{reinterpret_cast<std::uintptr_t>(notification)};
    }
};

}  // namespace

DeviceInterfaces& SystemDeviceInterfaces() {
    static Win32DeviceInterfaces interfaces;
    return interfaces;
}

}  // namespace torvane
