#include "sim/sim_device_interfaces.h"

#include <gtest/gtest.h>

#include "sim/family_device.h"
#include "sim/usb_function.h"
#include "sim/virtual_clock.h"

namespace torvane::sim {
namespace {

using namespace std::string_literals;
using Bytes = std::vector<std::uint8_t>;

class SimDeviceInterfacesTest : public ::testing::Test {
protected:
    SimDeviceInterfacesTest() {
        bus.Attach(std::make_shared<FamilyDevice>(FamilyDeviceConfig::ForModel(0x1F01, "P1")));
        bus.Attach(usb);
        bus.Attach(std::make_shared<FamilyDevice>(FamilyDeviceConfig::ForModel(0x1F10, "P3")));
    }

    std::string PathOf(const Guid& guid) {
        return interfaces.Enumerate(guid).value().at(0).devicePath.value();
    }
    DeviceHandle Open(const Guid& guid = kUsbFunctionClassGuid) {
        return interfaces.Open(PathOf(guid), error);
    }
    // 0 for a call whose result is true, else its error code; error is cleared for the next call.
    template <typename Result>
    std::uint32_t Failure(const Result& result) {
        const std::uint32_t code = result ? 0 : error.code;
        error = {};
        return code;
    }
    // The driver version query.
    std::uint32_t Query(DeviceHandle handle) {
        Bytes version(4);
        return Failure(interfaces.IoControl(handle, 0x220000, version, bytes, error));
    }

    VirtualClock clock;
    VirtualBus bus{clock};
    std::shared_ptr<UsbFunction> usb = std::make_shared<UsbFunction>(
        UsbFunctionConfig{.descriptors = BulkAlternateDescriptors(), .locationPath = "P2"});
    SimDeviceInterfaces interfaces{bus};
    SystemError error;
    std::uint32_t bytes = 0;
};

TEST_F(SimDeviceInterfacesTest, EnumerationListsTheClassInPortOrderWithItsProperties) {
    const auto hid = interfaces.Enumerate(kHidClassGuid).value();
    ASSERT_EQ(hid.size(), 2u);
    EXPECT_EQ(hid[0].devicePath,
              "\\\\?\\hid#vid_3a7d&pid_1f01#sim&1&1#{4d1e55b2-f16f-11cf-88cb-001111000030}");
    EXPECT_EQ(hid[0].locationPaths,
              "P1\0ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)#ACPI(RHUB)#ACPI(HS01)\0\0"s);
    EXPECT_EQ(hid[1].locationInformation, "Port_#0003.Hub_#0001");
    EXPECT_EQ(PathOf(kUsbFunctionClassGuid),
              "\\\\?\\usb#vid_1209&pid_0002#sim&2&1#{8f3a2c61-5b7e-4d09-a16c-2e9047d35b18}");
    EXPECT_TRUE(interfaces.Enumerate(Guid{1, 2, 3, {}})->empty());
}

TEST_F(SimDeviceInterfacesTest, HandlesCloseOnceAndGoStaleWhenTheFunctionLeavesTheBus) {
    EXPECT_EQ(Failure(interfaces.Open("\\\\?\\usb#nothing", error)), kErrorFileNotFound);
    const DeviceHandle handle = Open();
    EXPECT_EQ(Query(handle), 0u);
    HidAttributes attributes;
    EXPECT_FALSE(bus.GetAttributes(handle, attributes));  // not a HID interface
    usb->SetPresent(false);
    EXPECT_TRUE(interfaces.Enumerate(kUsbFunctionClassGuid)->empty());
    EXPECT_EQ(Query(handle), kErrorDeviceNotConnected);
    usb->SetPresent(true);
    EXPECT_EQ(Query(handle), kErrorDeviceNotConnected);
    EXPECT_EQ(Query(Open()), 0u);
    EXPECT_EQ(Failure(interfaces.Close(handle, error)), 0u);
    EXPECT_EQ(Failure(interfaces.Close(handle, error)), kErrorInvalidHandle);
    EXPECT_EQ(Query(handle), kErrorInvalidHandle);
}

TEST_F(SimDeviceInterfacesTest, OverlappedRequestsCompleteAsTheyStart) {
    const DeviceHandle handle = Open();
    AsyncIo io;
    ASSERT_TRUE(interfaces.CreateIo(io));
    // Nothing started: the wait times out after its time on the virtual clock.
    EXPECT_FALSE(interfaces.WaitIo(io, 50));
    EXPECT_EQ(clock.TickCount(), 50u);
    Bytes in(4, 0xFF);
    Bytes out(4);
    EXPECT_EQ(Failure(interfaces.BeginIoControl(handle, 0x220000, in, out, io, error)),
              kErrorIoPending);
    EXPECT_TRUE(interfaces.WaitIo(io, 0));  // the answer itself: proven by every device open
    // A failed request reports its own error and no result.
    EXPECT_EQ(Failure(interfaces.BeginIoControl(handle, 0x220000, in, std::span(out).first(2), io,
                                                error)),
              kErrorInsufficientBuffer);
    EXPECT_FALSE(interfaces.GetIoResult(handle, io, bytes));
    interfaces.CloseIo(io);
    EXPECT_EQ(Failure(interfaces.BeginIoControl(handle, 0x220000, in, out, io, error)),
              kErrorInvalidParameter);
}

TEST_F(SimDeviceInterfacesTest, RegistrationsNeedAWindowAndALiveHandle) {
    constexpr WindowHandle kWindow{0x10};
    EXPECT_EQ(Failure(interfaces.RegisterInterfaceNotification(WindowHandle{},
                                                               kUsbFunctionClassGuid, error)),
              kErrorInvalidParameter);
    const NotificationHandle byClass =
        interfaces.RegisterInterfaceNotification(kWindow, kUsbFunctionClassGuid, error);
    const DeviceHandle handle = Open();
    const NotificationHandle byHandle =
        interfaces.RegisterHandleNotification(kWindow, handle, error);
    ASSERT_TRUE(byClass && byHandle);
    usb->SetPresent(false);
    usb->SetPresent(true);
    // The handle's device has gone: it cannot be registered again.
    EXPECT_EQ(Failure(interfaces.RegisterHandleNotification(kWindow, handle, error)),
              kErrorDeviceNotConnected);
    EXPECT_EQ(Failure(interfaces.UnregisterNotification(byClass, error)), 0u);
    EXPECT_EQ(Failure(interfaces.UnregisterNotification(byHandle, error)), 0u);
    EXPECT_EQ(Failure(interfaces.UnregisterNotification(byHandle, error)), kErrorInvalidHandle);
}

}  // namespace
}  // namespace torvane::sim
