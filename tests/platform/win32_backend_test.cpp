// The Win32 backends on the system they run on (a real Windows, or Wine): device interfaces,
// device arrivals, the HID class and the USB access layer's full open of the present HID
// interfaces.
#include <windows.h>

#include <dbt.h>

#include <thread>

#include <gtest/gtest.h>

#include "platform/device_arrivals.h"

#include "platform/device_interfaces.h"
#include "platform/hid_class.h"
#include "support/recording_messages.h"
#include "usb/usb_device.h"

namespace torvane {
namespace {

// Whatever the system presents: every interface given has a path and a well-formed location
// list, and the ones that open accept no driver code of the access layer.
TEST(Win32DeviceInterfaces, PresentHidInterfacesHavePathsAndOpen) {
    DeviceInterfaces& interfaces = SystemDeviceInterfaces();
    const auto entries = interfaces.Enumerate(SystemHidClass().HidGuid());
    ASSERT_TRUE(entries.has_value());
    RecordProperty("HidInterfaces", static_cast<int>(entries->size()));
    for (const InterfaceEntry& entry : *entries) {
        if (!entry.present) {
            continue;
        }
        ASSERT_TRUE(entry.devicePath.has_value());
        EXPECT_EQ(entry.devicePath->rfind("\\\\?\\", 0), 0u) << *entry.devicePath;
        if (entry.locationPaths && !entry.locationPaths->empty()) {
            EXPECT_EQ(entry.locationPaths->back(), '\0');
        }
        SystemError error;
        const DeviceHandle handle = interfaces.Open(*entry.devicePath, error);
        if (!handle) {
            EXPECT_NE(error.code, 0u);  // a keyboard or mouse the system keeps for itself
            continue;
        }
        std::uint8_t version[4] = {};
        std::uint32_t bytes = 0;
        EXPECT_FALSE(interfaces.IoControl(handle, 0x220000, version, bytes, error));
        EXPECT_NE(error.code, 0u);
        AsyncIo io;
        ASSERT_TRUE(interfaces.CreateIo(io));
        EXPECT_FALSE(interfaces.BeginIoControl(handle, 0x220000, version, version, io, error));
        EXPECT_NE(error.code, kErrorIoPending);
        interfaces.CloseIo(io);
        EXPECT_TRUE(interfaces.Close(handle, error));
    }
}

TEST(Win32DeviceInterfaces, FailuresCarryTheSystemsError) {
    DeviceInterfaces& interfaces = SystemDeviceInterfaces();
    SystemError error;
    EXPECT_FALSE(interfaces.Open(
        "\\\\?\\hid#no_such_device#0#{00000000-0000-0000-0000-000000000000}", error));
    EXPECT_NE(error.code, 0u);

    error = {};
    std::uint8_t buffer[4] = {};
    std::uint32_t bytes = 0;
    EXPECT_FALSE(interfaces.IoControl(DeviceHandle{}, 0x220000, buffer, bytes, error));
    EXPECT_NE(error.code, 0u);
    // Wine fails this close without an error code of its own.
    EXPECT_FALSE(interfaces.Close(DeviceHandle{}, error));

    error = {};
    EXPECT_FALSE(interfaces.RegisterInterfaceNotification(WindowHandle{},
                                                          SystemHidClass().HidGuid(), error));
    EXPECT_NE(error.code, 0u);
    EXPECT_FALSE(interfaces.UnregisterNotification(NotificationHandle{}, error));
}

TEST(Win32DeviceInterfaces, RequestRecordsTimeOutIdleAndCompleteWhenTheStartFails) {
    DeviceInterfaces& interfaces = SystemDeviceInterfaces();
    AsyncIo io;
    ASSERT_TRUE(interfaces.CreateIo(io));
    EXPECT_NE(io.event, 0u);
    EXPECT_FALSE(interfaces.WaitIo(io, 0));
    std::uint32_t bytes = 1;
    EXPECT_FALSE(interfaces.GetIoResult(DeviceHandle{}, io, bytes));
    EXPECT_EQ(bytes, 0u);

    std::uint8_t buffer[4] = {};
    SystemError error;
    EXPECT_FALSE(interfaces.BeginIoControl(DeviceHandle{}, 0x220000, buffer, buffer, io, error));
    EXPECT_NE(error.code, 0u);
    EXPECT_NE(error.code, kErrorIoPending);
    EXPECT_TRUE(interfaces.WaitIo(io, 0));
    EXPECT_FALSE(interfaces.GetIoResult(DeviceHandle{}, io, bytes));
    interfaces.CloseIo(io);
    EXPECT_EQ(io.event, 0u);
    EXPECT_EQ(io.state, nullptr);
}

TEST(Win32HidClass, ConvertsTheSystemsGuidAndRefusesAClosedHandle) {
    HidClass& hid = SystemHidClass();
    EXPECT_EQ(FormatGuid(hid.HidGuid()), "{4D1E55B2-F16F-11CF-88CB-001111000030}");
    HidAttributes attributes;
    EXPECT_FALSE(hid.GetAttributes(DeviceHandle{}, attributes));
    HidCaps caps;
    EXPECT_FALSE(hid.GetCaps(DeviceHandle{}, caps));
    std::uint8_t report[8] = {0x01};
    EXPECT_FALSE(hid.GetInputReport(DeviceHandle{}, report));
    EXPECT_FALSE(hid.SetOutputReport(DeviceHandle{}, report));
}

// The HID interfaces this system presents: counted, opened by the full open, which fails quietly
// on them since the HID class driver answers none of the USB function driver's codes, and closed.
TEST(Win32UsbDevice, FullOpenOfTheSystemsHidInterfacesFailsQuietly) {
    test::RecordingMessages messages;
    CUsbDevice device(SystemDeviceInterfaces(), messages, WindowHandle{},
                      SystemHidClass().HidGuid(), false);
    const std::uint8_t count = device.CountDevices();
    if (count == 0) {
        GTEST_SKIP() << "this system presents no HID interface";
    }
    EXPECT_FALSE(device.OpenHandle(count));
    for (std::uint8_t index = 0; index < count; ++index) {
        EXPECT_FALSE(device.OpenDevice(index)) << int{index};
        ASSERT_TRUE(device.deviceHandle) << int{index};
        EXPECT_EQ(device.deviceIndex, index);
        EXPECT_NE(device.lastError, 0u);
        EXPECT_EQ(device.deviceDescriptor, (std::array<std::uint8_t, 18>{}));
        EXPECT_EQ(device.QueryAltSetting(), 0xFF);
        EXPECT_FALSE(device.configurations[0]);
        HidAttributes attributes;
        EXPECT_TRUE(SystemHidClass().GetAttributes(device.deviceHandle, attributes));
        device.CloseDevice();
        EXPECT_FALSE(device.deviceHandle);
    }
    EXPECT_TRUE(messages.shown.empty());
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
