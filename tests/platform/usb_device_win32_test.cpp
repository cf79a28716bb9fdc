#include <gtest/gtest.h>

#include "platform/device_interfaces.h"
#include "platform/hid_class.h"
#include "support/recording_messages.h"
#include "usb/usb_device.h"

namespace torvane {
namespace {

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

}  // namespace
}  // namespace torvane
