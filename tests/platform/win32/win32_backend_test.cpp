// The Win32 backends on the system they run on (a real Windows, or Wine): device interfaces on
// what the system refuses, and device arrivals on what it sends.
#include <windows.h>

#include <dbt.h>

#include <thread>

#include <gtest/gtest.h>

#include "platform/device_arrivals.h"

#include "platform/device_interfaces.h"
#include "platform/device_lock.h"
#include "platform/hid_class.h"

namespace torvane {
namespace {

TEST(Win32DeviceInterfaces, FailuresCarryTheSystemsErrorAndRequestRecordsStillComplete) {
    DeviceInterfaces& interfaces = SystemDeviceInterfaces();
    SystemError error;
    EXPECT_FALSE(interfaces.Open(
        "\\\\?\\hid#no_such_device#0#{00000000-0000-0000-0000-000000000000}", error));
    EXPECT_NE(error.code, 0u);

    // A request record times out idle and completes when the start fails.
    AsyncIo io;
    ASSERT_TRUE(interfaces.CreateIo(io));
    EXPECT_NE(io.event, 0u);
    EXPECT_FALSE(interfaces.WaitIo(io, 0));
    error = {};
    std::uint8_t buffer[4] = {};
    std::uint32_t bytes = 0;
    EXPECT_FALSE(interfaces.BeginIoControl(DeviceHandle{}, 0x220000, buffer, buffer, io, error));
    EXPECT_NE(error.code, kErrorIoPending);
    EXPECT_TRUE(interfaces.WaitIo(io, 0));
    EXPECT_FALSE(interfaces.GetIoResult(DeviceHandle{}, io, bytes));
    interfaces.CloseIo(io);
}

// A device's lock: one holder at a time, in one process and on one thread as well, named after
// its process; let go on another thread than the one that took it, it is free again.
TEST(Win32DeviceLock, OneHolderAtATimeWhateverTheThread) {
    const std::string location = "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)";
    std::uint32_t holder = 0;
    std::unique_ptr<DeviceLock> lock = SystemDeviceLocks().TryLock(location, holder);
    ASSERT_TRUE(lock);
    EXPECT_FALSE(SystemDeviceLocks().TryLock(location, holder));
    EXPECT_EQ(holder, ::GetCurrentProcessId());
    std::thread([&lock] { lock.reset(); }).join();
    EXPECT_TRUE(SystemDeviceLocks().TryLock(location, holder));
}

// The watcher's window takes the system's device-change broadcasts for the HID class: an
// arrival sent to it is word, other device-change messages are not, and a wait without word
// ends at its time-out.
TEST(Win32DeviceArrivals, AnArrivalSentToTheWindowIsWord) {
    std::string error;
    const std::unique_ptr<DeviceArrivals> arrivals =
        WatchSystemArrivals(SystemHidClass().HidGuid(), error);
    ASSERT_TRUE(arrivals) << error;
    const HWND window = ::FindWindowExA(HWND_MESSAGE, nullptr, "TorvaneDeviceArrivals", nullptr);
    ASSERT_NE(window, nullptr);
    const DWORD start = ::GetTickCount();
    EXPECT_FALSE(arrivals->Wait(100, true));
    EXPECT_GE(::GetTickCount() - start, 90u);

    // Sent from another thread, as the system sends its broadcasts: delivered while it waits.
    std::thread sender([window] {
        ::Sleep(50);
        ::SendMessageA(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
        ::SendMessageA(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0);
    });
    EXPECT_TRUE(arrivals->Wait(5000, true));
    sender.join();
    EXPECT_FALSE(arrivals->Wait(0, true));  // taken
    ::SendMessageA(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    EXPECT_FALSE(arrivals->Wait(0, true));
}

}  // namespace
}  // namespace torvane
