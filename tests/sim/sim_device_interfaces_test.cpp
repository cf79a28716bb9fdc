#include "sim/sim_device_interfaces.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "sim/family_device.h"
#include "sim/usb_function.h"
#include "sim/virtual_clock.h"

namespace torvane::sim {
namespace {

using namespace std::string_literals;

class SimDeviceInterfacesTest : public ::testing::Test {
protected:
    SimDeviceInterfacesTest() {
        bus.Attach(std::make_shared<FamilyDevice>(FamilyDeviceConfig::ForModel(0x1F01, "P1")));
        bus.Attach(usb);
        bus.Attach(std::make_shared<FamilyDevice>(FamilyDeviceConfig::ForModel(0x1F10, "P3")));
    }

    std::string PathOf(const Guid& guid, std::size_t index) {
        return interfaces.Enumerate(guid).value().at(index).devicePath.value();
    }

    DeviceHandle OpenUsb() {
        SystemError error;
        return interfaces.Open(PathOf(kUsbFunctionClassGuid, 0), error);
    }

    VirtualClock clock;
    VirtualBus bus{clock};
    std::shared_ptr<UsbFunction> usb = std::make_shared<UsbFunction>(
        UsbFunctionConfig{.descriptors = BulkAlternateDescriptors(), .locationPath = "P2"});
    SimDeviceInterfaces interfaces{bus};
};

TEST_F(SimDeviceInterfacesTest, EnumerationListsTheClassInPortOrderWithItsProperties) {
    const auto hid = interfaces.Enumerate(kHidClassGuid);
    ASSERT_TRUE(hid.has_value());
    ASSERT_EQ(hid->size(), 2u);
    EXPECT_EQ((*hid)[0].devicePath,
              "\\\\?\\hid#vid_3a7d&pid_1f01#sim&1&1#{4d1e55b2-f16f-11cf-88cb-001111000030}");
    EXPECT_EQ((*hid)[0].locationPaths,
              "P1\0ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)#ACPI(RHUB)#ACPI(HS01)\0\0"s);
    EXPECT_EQ((*hid)[1].locationInformation, "Port_#0003.Hub_#0001");

    const auto usbEntries = interfaces.Enumerate(kUsbFunctionClassGuid);
    ASSERT_EQ(usbEntries->size(), 1u);
    EXPECT_EQ((*usbEntries)[0].devicePath,
              "\\\\?\\usb#vid_1209&pid_0002#sim&2&1#{8f3a2c61-5b7e-4d09-a16c-2e9047d35b18}");
    EXPECT_TRUE(interfaces.Enumerate(Guid{1, 2, 3, {}})->empty());
}

TEST_F(SimDeviceInterfacesTest, TheHidClassDriverFailsEveryDriverCodeAndWritesNothing) {
    SystemError error;
    const DeviceHandle handle = interfaces.Open(PathOf(kHidClassGuid, 0), error);
    ASSERT_TRUE(handle);
    for (const std::uint32_t code : {0x220000u, 0x220004u, 0x220008u, 0x220010u, 0x220020u,
                                     0x220024u, 0x22003Cu, 0x220040u, 0x22004Bu, 0x22004Cu}) {
        std::vector<std::uint8_t> buffer(300, 0xA5);
        std::uint32_t bytes = 99;
        error.code = 0;
        EXPECT_FALSE(interfaces.IoControl(handle, code, buffer, bytes, error)) << code;
        EXPECT_EQ(error.code, kErrorInvalidFunction);
        EXPECT_EQ(bytes, 0u);
        EXPECT_EQ(buffer, std::vector<std::uint8_t>(300, 0xA5));
    }
    AsyncIo io;
    ASSERT_TRUE(interfaces.CreateIo(io));
    std::vector<std::uint8_t> out(8, 0xA5);
    EXPECT_FALSE(interfaces.BeginIoControl(handle, 0x22004B, out, out, io, error));
    EXPECT_EQ(error.code, kErrorInvalidFunction);
    std::uint32_t bytes = 99;
    EXPECT_FALSE(interfaces.GetIoResult(handle, io, bytes));
    EXPECT_EQ(bytes, 0u);
    interfaces.CloseIo(io);
}

TEST_F(SimDeviceInterfacesTest, HandlesCloseOnceAndGoStaleWhenTheFunctionLeavesTheBus) {
    SystemError error;
    EXPECT_FALSE(interfaces.Open("\\\\?\\usb#nothing", error));
    EXPECT_EQ(error.code, kErrorFileNotFound);
    const DeviceHandle handle = OpenUsb();
    std::array<std::uint8_t, 4> version{};
    std::uint32_t bytes = 0;
    EXPECT_TRUE(interfaces.IoControl(handle, 0x220000, version, bytes, error));
    HidAttributes attributes;
    EXPECT_FALSE(bus.GetAttributes(handle, attributes));  // not a HID interface
    usb->SetPresent(false);
    EXPECT_TRUE(interfaces.Enumerate(kUsbFunctionClassGuid)->empty());
    EXPECT_FALSE(interfaces.IoControl(handle, 0x220000, version, bytes, error));
    EXPECT_EQ(error.code, kErrorDeviceNotConnected);
    usb->SetPresent(true);
    EXPECT_FALSE(interfaces.IoControl(handle, 0x220000, version, bytes, error));
    EXPECT_TRUE(interfaces.IoControl(OpenUsb(), 0x220000, version, bytes, error));
    EXPECT_TRUE(interfaces.Close(handle, error));
    EXPECT_FALSE(interfaces.Close(handle, error));
    EXPECT_EQ(error.code, kErrorInvalidHandle);
    EXPECT_FALSE(interfaces.IoControl(handle, 0x220000, version, bytes, error));
    EXPECT_EQ(error.code, kErrorInvalidHandle);
}

TEST_F(SimDeviceInterfacesTest, OverlappedRequestsCompleteAsTheyStart) {
    const DeviceHandle handle = OpenUsb();
    AsyncIo io;
    ASSERT_TRUE(interfaces.CreateIo(io));
    EXPECT_NE(io.event, 0u);
    // Nothing started: the wait times out after its time on the virtual clock.
    EXPECT_FALSE(interfaces.WaitIo(io, 50));
    EXPECT_EQ(clock.TickCount(), 50u);

    std::array<std::uint8_t, 4> in{0xFF, 0xFF, 0xFF, 0xFF};
    std::array<std::uint8_t, 4> out{};
    SystemError error;
    EXPECT_FALSE(interfaces.BeginIoControl(handle, 0x220000, in, out, io, error));
    EXPECT_EQ(error.code, kErrorIoPending);
    EXPECT_TRUE(interfaces.WaitIo(io, 0));
    std::uint32_t bytes = 0;
    EXPECT_TRUE(interfaces.GetIoResult(handle, io, bytes));
    EXPECT_EQ(bytes, 4u);
    EXPECT_EQ(out, (std::array<std::uint8_t, 4>{0x01, 0x00, 0x02, 0x00}));

    // A failed request reports its own error and no result.
    EXPECT_FALSE(
        interfaces.BeginIoControl(handle, 0x220000, in, std::span(out).first(2), io, error));
    EXPECT_EQ(error.code, kErrorInsufficientBuffer);
    EXPECT_FALSE(interfaces.GetIoResult(handle, io, bytes));
    interfaces.CloseIo(io);
    EXPECT_EQ(io.state, nullptr);
    EXPECT_FALSE(interfaces.BeginIoControl(handle, 0x220000, in, out, io, error));
    EXPECT_EQ(error.code, kErrorInvalidParameter);
}

TEST_F(SimDeviceInterfacesTest, RegisteredWindowsHearArrivalAndRemoval) {
    constexpr WindowHandle kWindow{0x10};
    constexpr WindowHandle kOther{0x20};
    SystemError error;
    EXPECT_FALSE(
        interfaces.RegisterInterfaceNotification(WindowHandle{}, kUsbFunctionClassGuid, error));
    EXPECT_EQ(error.code, kErrorInvalidParameter);

    // What happened before the registration is not announced.
    usb->SetPresent(false);
    usb->SetPresent(true);
    const NotificationHandle byClass =
        interfaces.RegisterInterfaceNotification(kWindow, kUsbFunctionClassGuid, error);
    ASSERT_TRUE(byClass);
    const DeviceHandle handle = OpenUsb();
    const NotificationHandle byHandle =
        interfaces.RegisterHandleNotification(kWindow, handle, error);
    ASSERT_TRUE(byHandle);
    EXPECT_TRUE(bus.TakeNotifications(kWindow).empty());
    const std::string path = PathOf(kUsbFunctionClassGuid, 0);

    usb->SetPresent(false);
    usb->SetPresent(true);
    const std::vector<BusNotification> seen = bus.TakeNotifications(kWindow);
    ASSERT_EQ(seen.size(), 3u);
    const auto has = [&](NotificationHandle registration, BusNotification::Event event,
                         const std::string& devicePath, DeviceHandle forHandle) {
        return std::any_of(seen.begin(), seen.end(), [&](const BusNotification& n) {
            return n.registration == registration && n.event == event &&
                   n.devicePath == devicePath && n.handle == forHandle;
        });
    };
    using Event = BusNotification::Event;
    EXPECT_TRUE(has(byClass, Event::RemoveComplete, path, DeviceHandle{}));
    EXPECT_TRUE(has(byHandle, Event::RemoveComplete, "", handle));
    EXPECT_TRUE(has(byClass, Event::Arrival, PathOf(kUsbFunctionClassGuid, 0), DeviceHandle{}));
    EXPECT_EQ(seen.back().event, Event::Arrival);
    EXPECT_TRUE(bus.TakeNotifications(kOther).empty());

    // The handle's device has gone: it cannot be registered again.
    EXPECT_FALSE(interfaces.RegisterHandleNotification(kWindow, handle, error));
    EXPECT_EQ(error.code, kErrorDeviceNotConnected);
    EXPECT_TRUE(interfaces.UnregisterNotification(byClass, error));
    EXPECT_TRUE(interfaces.UnregisterNotification(byHandle, error));
    EXPECT_FALSE(interfaces.UnregisterNotification(byHandle, error));
    EXPECT_EQ(error.code, kErrorInvalidHandle);
    usb->SetPresent(false);
    EXPECT_TRUE(bus.TakeNotifications(kWindow).empty());
}

TEST_F(SimDeviceInterfacesTest, FaultHooksFailCloseOnceAndUnregisterUntilCleared) {
    const DeviceHandle handle = OpenUsb();
    SystemError error;
    interfaces.FailNextClose(31);
    EXPECT_FALSE(interfaces.Close(handle, error));
    EXPECT_EQ(error.code, 31u);
    std::array<std::uint8_t, 1> address{};
    std::uint32_t bytes = 0;
    EXPECT_TRUE(interfaces.IoControl(handle, 0x220010, address, bytes, error));
    EXPECT_TRUE(interfaces.Close(handle, error));

    const NotificationHandle notification =
        interfaces.RegisterInterfaceNotification(WindowHandle{1}, kHidClassGuid, error);
    interfaces.FailUnregister(5);
    EXPECT_FALSE(interfaces.UnregisterNotification(notification, error));
    EXPECT_FALSE(interfaces.UnregisterNotification(notification, error));
    EXPECT_EQ(error.code, 5u);
    interfaces.FailUnregister(0);
    EXPECT_TRUE(interfaces.UnregisterNotification(notification, error));
}

}  // namespace
}  // namespace torvane::sim
