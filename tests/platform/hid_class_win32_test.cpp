#include <gtest/gtest.h>

#include "platform/hid_class.h"

namespace torvane {
namespace {

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

}  // namespace
}  // namespace torvane
