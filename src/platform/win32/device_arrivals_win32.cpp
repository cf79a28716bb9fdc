// Device arrivals on Windows: a message-only window registered for the device-change broadcasts
// of an interface class. The window belongs to the thread that asked for it; that thread's
// waits pump its messages.
#include <windows.h>

#include <dbt.h>

#include <algorithm>
#include <iterator>
#include <memory>

#include "platform/device_arrivals.h"

namespace torvane {
namespace {

constexpr const char* kWindowClass = "TorvaneDeviceArrivals";

class WindowArrivals final : public DeviceArrivals {
public:
    ~WindowArrivals() override {
        if (notification_ != nullptr) {
            ::UnregisterDeviceNotification(notification_);
        }
        if (window_ != nullptr) {
            ::DestroyWindow(window_);
        }
    }

    // False and the system's error code when the window or its registration fails.
    bool Open(const Guid& classGuid, DWORD& error) {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = &WindowArrivals::Procedure;
        windowClass.hInstance = ::GetModuleHandleA(nullptr);
        windowClass.lpszClassName = kWindowClass;
        if (::RegisterClassA(&windowClass) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
            error = ::GetLastError();
            return false;
        }
        window_ = ::CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    windowClass.hInstance, nullptr);
        if (window_ == nullptr) {
            error = ::GetLastError();
            return false;
        }
        ::SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        DEV_BROADCAST_DEVICEINTERFACE_A filter{};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = GUID{classGuid.data1, classGuid.data2, classGuid.data3, {}};
        std::copy(classGuid.data4.begin(), classGuid.data4.end(),
                  std::begin(filter.dbcc_classguid.Data4));
        notification_ =
            ::RegisterDeviceNotificationA(window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        if (notification_ == nullptr) {
            error = ::GetLastError();
            return false;
        }
        return true;
    }

    bool Wait(std::uint32_t timeoutMs, bool) override {
        const DWORD start = ::GetTickCount();
        for (;;) {
            // Every message of the thread: one left in its queue would end each wait at once.
            MSG message;
            while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                ::TranslateMessage(&message);
                ::DispatchMessageA(&message);
            }
            if (told_) {
                told_ = false;
                return true;
            }
            const DWORD elapsed = ::GetTickCount() - start;
            if (elapsed >= timeoutMs) {
                return false;
            }
            // Broadcasts are sent messages: they are delivered while the thread waits here
            // or peeks.
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs - elapsed, QS_ALLINPUT);
        }
    }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_DEVICECHANGE &&
            (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE)) {
            if (auto* self =
                    reinterpret_cast<WindowArrivals*>(::GetWindowLongPtrA(window, GWLP_USERDATA))) {
                self->told_ = true;
            }
            return TRUE;
        }
        return ::DefWindowProcA(window, message, wParam, lParam);
    }

    HWND window_ = nullptr;
    HDEVNOTIFY notification_ = nullptr;
    bool told_ = false;
};

}  // namespace

std::unique_ptr<DeviceArrivals> WatchSystemArrivals(const Guid& classGuid, std::string& error) {
    auto arrivals = std::make_unique<WindowArrivals>();
    DWORD code = 0;
    if (!arrivals->Open(classGuid, code)) {
        error =
            "device-change notifications cannot be registered (error " + std::to_string(code) + ")";
        return nullptr;
    }
    return arrivals;
}

}  // namespace torvane
