// The Linux backends on a umockdev test bed: enumeration, location paths, attributes,
// capabilities and reports, as the engine reads them.
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "linux/file_access.h"
#include "linux/hidraw_testbed.h"
#include "platform/device_interfaces.h"
#include "platform/hid_class.h"
#include "platform/linux/hidraw.h"
#include "protocol/family.h"
#include "sim/virtual_clock.h"

namespace torvane {
namespace {

using sim::FamilyDeviceConfig;

TEST(HidrawNames, LocationPathIsIdPathElseBusAndPortChain) {
    struct Case {
        const char* idPath;
        const char* busnum;
        const char* devpath;
        std::string expected;
    };
    const Case cases[] = {
        {"pci-0000:00:14.0-usb-0:2", "1", "2", "pci-0000:00:14.0-usb-0:2"},
        {nullptr, "3", "1.4.2", "usb-3-1.4.2"},
        {"", "1", "7", "usb-1-7"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(hidraw::LocationPath(c.idPath, c.busnum, c.devpath), c.expected);
    }
    EXPECT_EQ(hidraw::LocationInformation("3", "1.4.2"), "Port_#1.4.2 Bus 3");
}

TEST(HidrawNames, SysnamesSortByNumber) {
    struct Case {
        const char* a;
        const char* b;
        bool before;
    };
    const Case cases[] = {
        {"hidraw2", "hidraw10", true}, {"hidraw10", "hidraw2", false}, {"hidraw0", "hidraw1", true},
        {"hidraw1", "hidraw1", false}, {"hidraw9", "hidraw09", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(hidraw::SysnameBefore(c.a, c.b), c.before) << c.a << " " << c.b;
    }
}

TEST(HidrawNames, MissingReportIoctlsAreTheOldKernelsErrors) {
    EXPECT_TRUE(hidraw::IsMissingReportIoctl(ENOTTY));
    EXPECT_TRUE(hidraw::IsMissingReportIoctl(EINVAL));
    EXPECT_FALSE(hidraw::IsMissingReportIoctl(EPIPE));
    EXPECT_FALSE(hidraw::IsMissingReportIoctl(0));
}

TEST(UdevRule, OneUaccessLinePerProductOfTheVendor) {
    std::ifstream file(TORVANE_UDEV_RULE);
    std::stringstream text;
    text << file.rdbuf();
    std::string rules;
    for (std::string line; std::getline(text, line);) {
        if (!line.empty() && line[0] != '#') {
            rules += line + "\n";
        }
    }
    char vendor[8];
    std::snprintf(vendor, sizeof vendor, "%04x", family::kVendorId);
    std::string expected;
    for (const char* product : {"1f01", "1f02", "1f10", "1f00"}) {
        expected += std::string("SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"") + vendor +
                    "\", ATTRS{idProduct}==\"" + product + "\", TAG+=\"uaccess\"\n";
    }
    EXPECT_EQ(rules, expected);
}

class HidrawBackendTest : public ::testing::Test {
protected:
    DeviceHandle Open(const std::string& path) {
        SystemError error;
        const DeviceHandle handle = interfaces.Open(path, error);
        EXPECT_TRUE(handle) << path << ": " << std::strerror(static_cast<int>(error.code));
        return handle;
    }
    void Close(DeviceHandle handle) {
        SystemError error;
        EXPECT_TRUE(interfaces.Close(handle, error));
    }

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
    ASSERT_EQ(entries->size(), 3u);
    const std::string expected[][3] = {
        {"/dev/hidraw0", test::HidrawTestbed::IdPath(2), "Port_#2 Bus 1"},
        {"/dev/hidraw1", test::HidrawTestbed::IdPath(5), "Port_#5 Bus 1"},
        {"/dev/hidraw2", "usb-1-3", "Port_#3 Bus 1"},
    };
    for (std::size_t i = 0; i < entries->size(); ++i) {
        const InterfaceEntry& entry = (*entries)[i];
        EXPECT_TRUE(entry.present);
        EXPECT_EQ(entry.devicePath, expected[i][0]);
        EXPECT_EQ(entry.locationPaths, expected[i][1] + std::string(2, '\0'));
        EXPECT_EQ(entry.locationInformation, expected[i][2]);
    }
    // Another class has no interfaces here.
    const auto other = interfaces.Enumerate(Guid{1, 2, 3, {}});
    ASSERT_TRUE(other);
    EXPECT_TRUE(other->empty());
}

TEST_F(HidrawBackendTest, AttributesAndCapsOfTheApplicationAndTheBootLoader) {
    FamilyDeviceConfig boot = FamilyDeviceConfig::ForModel(0x1F10, "");
    boot.startInBootLoader = true;
    bed.AddFamilyDevice(FamilyDeviceConfig::ForModel(0x1F02, ""), 1);
    bed.AddFamilyDevice(boot, 2);
    bed.AddMouse(3);
    struct Expected {
        std::uint16_t vendorId, productId, version, input, output, usagePage, usage;
    };
    const Expected expected[] = {
        {family::kVendorId, 0x1F02, 0x0100, 64, 64, 0xFF00, 0x0001},
        {family::kVendorId, 0x1F00, 0x0100, 40, 40, 0xFF00, 0x0001},
        {0x046D, 0xC077, 0x0200, 4, 0, 0x0001, 0x0002},
    };
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const DeviceHandle handle = Open("/dev/hidraw" + std::to_string(i));
        HidAttributes attributes;
        ASSERT_TRUE(hid.GetAttributes(handle, attributes));
        EXPECT_EQ(attributes.vendorId, expected[i].vendorId) << i;
        EXPECT_EQ(attributes.productId, expected[i].productId) << i;
        EXPECT_EQ(attributes.versionNumber, expected[i].version) << i;
        HidCaps caps;
        ASSERT_TRUE(hid.GetCaps(handle, caps));
        EXPECT_EQ(caps.inputReportByteLength, expected[i].input) << i;
        EXPECT_EQ(caps.outputReportByteLength, expected[i].output) << i;
        EXPECT_EQ(caps.usagePage, expected[i].usagePage) << i;
        EXPECT_EQ(caps.usage, expected[i].usage) << i;
        Close(handle);
    }
}

TEST_F(HidrawBackendTest, ReportsGoToTheEmulatorAndBack) {
    bed.AddFamilyDevice(FamilyDeviceConfig::ForModel(0x1F02, ""), 1);
    const DeviceHandle handle = Open("/dev/hidraw0");
    std::vector<std::uint8_t> out(64, 0);
    out[0] = family::kOutputReportId;
    out[1] = family::kPreamble0;
    out[2] = family::kPreamble1;
    out[3] = family::kAppVersion.command;
    out[4] = family::kAppVersion.subcommand;
    EXPECT_TRUE(hid.SetOutputReport(handle, out));
    std::vector<std::uint8_t> in(64, 0xEE);
    in[0] = family::kInputReportId;
    ASSERT_TRUE(hid.GetInputReport(handle, in));
    EXPECT_EQ(in[3], family::kAppVersionReply);
    EXPECT_EQ(std::vector(in.begin() + 4, in.begin() + 8), (std::vector<std::uint8_t>{3, 1, 0, 0}));
    // A report of the wrong length is refused by the device.
    in.resize(63);
    EXPECT_FALSE(hid.GetInputReport(handle, in));
    Close(handle);
}

TEST_F(HidrawBackendTest, ControlCodesAndNotificationsFailAndWriteNothing) {
    bed.AddFamilyDevice(FamilyDeviceConfig::ForModel(0x1F01, ""), 1);
    const DeviceHandle handle = Open("/dev/hidraw0");
    std::vector<std::uint8_t> buffer(16, 0xAA);
    std::uint32_t bytes = 99;
    SystemError error;
    EXPECT_FALSE(interfaces.IoControl(handle, 0x220000, buffer, bytes, error));
    EXPECT_EQ(error.code, static_cast<std::uint32_t>(ENOTTY));
    EXPECT_EQ(bytes, 0u);
    AsyncIo io;
    EXPECT_FALSE(interfaces.CreateIo(io));
    error = {};
    EXPECT_FALSE(interfaces.BeginIoControl(handle, 0x220000, buffer, buffer, io, error));
    EXPECT_EQ(error.code, static_cast<std::uint32_t>(ENOTTY));
    EXPECT_TRUE(interfaces.WaitIo(io, 1000));
    EXPECT_FALSE(interfaces.GetIoResult(handle, io, bytes));
    EXPECT_EQ(buffer, std::vector<std::uint8_t>(16, 0xAA));
    error = {};
    EXPECT_FALSE(interfaces.RegisterInterfaceNotification(WindowHandle{1}, hid.HidGuid(), error));
    EXPECT_EQ(error.code, static_cast<std::uint32_t>(EOPNOTSUPP));
    Close(handle);
}

TEST_F(HidrawBackendTest, OpenFailuresCarryErrno) {
    bed.AddFamilyDevice(FamilyDeviceConfig::ForModel(0x1F01, ""), 1);
    bed.DenyAccess(1);
    const test::FilePermissionsBind bind;
    struct Case {
        const char* path;
        int error;
    };
    for (const Case& c : {Case{"/dev/hidraw0", EACCES}, Case{"/dev/hidraw7", ENOENT}}) {
        SystemError error;
        EXPECT_FALSE(interfaces.Open(c.path, error));
        EXPECT_EQ(error.code, static_cast<std::uint32_t>(c.error)) << c.path;
    }
}

TEST_F(HidrawBackendTest, ReportIoctlsMissingFromTheKernelFail) {
    bed.AddFamilyDevice(FamilyDeviceConfig::ForModel(0x1F01, ""), 1);
    bed.RemoveReportIoctls();
    const DeviceHandle handle = Open("/dev/hidraw0");
    std::vector<std::uint8_t> report(64, 0);
    report[0] = family::kInputReportId;
    EXPECT_EQ(hidraw::GetInputReport(hidraw::ToNode(handle).fd, report), ENOTTY);
    EXPECT_FALSE(hid.GetInputReport(handle, report));
    Close(handle);
}

}  // namespace
}  // namespace torvane
