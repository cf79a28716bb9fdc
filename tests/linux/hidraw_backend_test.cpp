// The Linux backends on a umockdev test bed: enumeration order, location paths, attributes and
// capabilities, as the engine reads them; and the udev rule that opens the nodes to users.
#include <array>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "linux/hidraw_testbed.h"
#include "platform/device_interfaces.h"
#include "platform/hid_class.h"
#include "platform/linux/hidraw.h"
#include "protocol/family.h"
#include "sim/virtual_clock.h"

namespace torvane {
namespace {

using sim::FamilyDeviceConfig;

TEST(HidrawNames, EmptyIdPathFallsBackAndSysnamesSortByNumber) {
    EXPECT_EQ(hidraw::LocationPath("", "1", "1.4"), "usb-1-1.4");
    struct Case {
        const char *a, *b;
        bool before;
    };
    for (const Case& c : {Case{"hidraw2", "hidraw10", true}, Case{"hidraw10", "hidraw2", false},
                          Case{"hidraw1", "hidraw1", false}, Case{"hidraw9", "hidraw09", true}}) {
        EXPECT_EQ(hidraw::SysnameBefore(c.a, c.b), c.before) << c.a << " " << c.b;
    }
}

TEST(UdevRule, UaccessForEveryProductOfTheVendor) {
    std::stringstream rules;
    rules << std::ifstream(TORVANE_UDEV_RULE).rdbuf();
    char vendor[8];
    std::snprintf(vendor, sizeof vendor, "%04x", family::kVendorId);
    for (const char* product : {"1f00", "1f01", "1f02", "1f10"}) {
        EXPECT_NE(
            rules.str().find(std::string("SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"") + vendor +
                             "\", ATTRS{idProduct}==\"" + product + "\", TAG+=\"uaccess\"\n"),
            std::string::npos)
            << product;
    }
}

class HidrawBackendTest : public ::testing::Test {
protected:
    sim::VirtualClock clock;
    test::HidrawTestbed bed{clock};
    DeviceInterfaces& interfaces = SystemDeviceInterfaces();
    HidClass& hid = SystemHidClass();
};

TEST_F(HidrawBackendTest, EveryNodeInNumberOrderWithItsPort) {
    bed.AddFamilyDevice(FamilyDeviceConfig::ForModel(0x1F01, ""), 2);
    bed.AddMouse(5);
    bed.AddFamilyDevice(FamilyDeviceConfig::ForModel(0x1F02, ""), 3, /*withIdPath=*/false);
    const auto entries = interfaces.Enumerate(hid.HidGuid());
    ASSERT_TRUE(entries);
    const std::string expected[][3] = {
        {"/dev/hidraw0", test::HidrawTestbed::IdPath(2), "Port_#2 Bus 1"},
        {"/dev/hidraw1", test::HidrawTestbed::IdPath(5), "Port_#5 Bus 1"},
        {"/dev/hidraw2", "usb-1-3", "Port_#3 Bus 1"},
    };
    ASSERT_EQ(entries->size(), std::size(expected));
    for (std::size_t i = 0; i < entries->size(); ++i) {
        const InterfaceEntry& entry = (*entries)[i];
        EXPECT_EQ(entry.devicePath, expected[i][0]);
        EXPECT_EQ(entry.locationPaths, expected[i][1] + std::string(2, '\0'));
        EXPECT_EQ(entry.locationInformation, expected[i][2]);
    }
    EXPECT_TRUE(interfaces.Enumerate(Guid{1, 2, 3, {}})->empty());
}

TEST_F(HidrawBackendTest, AttributesAndCapsOfTheApplicationAndTheBootLoader) {
    FamilyDeviceConfig boot = FamilyDeviceConfig::ForModel(0x1F10, "");
    boot.startInBootLoader = true;
    bed.AddFamilyDevice(FamilyDeviceConfig::ForModel(0x1F02, ""), 1);
    bed.AddFamilyDevice(boot, 2);
    bed.AddMouse(3);
    // Vendor, product, version, input and output report lengths, usage page, usage.
    using Row = std::array<unsigned, 7>;
    const Row expected[] = {
        {family::kVendorId, 0x1F02, 0x0100, 64, 64, 0xFF00, 0x0001},
        {family::kVendorId, 0x1F00, 0x0100, 40, 40, 0xFF00, 0x0001},
        {0x046D, 0xC077, 0x0200, 4, 0, 0x0001, 0x0002},
    };
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        SystemError error;
        const DeviceHandle handle = interfaces.Open("/dev/hidraw" + std::to_string(i), error);
        ASSERT_TRUE(handle) << i;
        HidAttributes attributes;
        HidCaps caps;
        ASSERT_TRUE(hid.GetAttributes(handle, attributes) && hid.GetCaps(handle, caps)) << i;
        EXPECT_EQ(Row({attributes.vendorId, attributes.productId, attributes.versionNumber,
                       caps.inputReportByteLength, caps.outputReportByteLength, caps.usagePage,
                       caps.usage}),
                  expected[i]);
        EXPECT_TRUE(interfaces.Close(handle, error));
    }
}

}  // namespace
}  // namespace torvane
