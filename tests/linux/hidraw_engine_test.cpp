// torvane-cli on hidraw nodes of a umockdev test bed: nodes that cannot be opened, interfaces
// left without a driver or held by another program, and the doctor. Whole updates through the
// boot loader's re-enumeration on the Linux backends are the real-kernel test's.
#include <algorithm>

#include <gtest/gtest.h>

#include "cli/cli_options.h"
#include "linux/hidraw_testbed.h"
#include "platform/linux/interface_access.h"
#include "protocol/family.h"
#include "support/run_cli.h"

namespace torvane {
namespace {

using sim::FamilyDeviceConfig;
using test::HidrawTestbed;
using test::RunCliWith;

constexpr std::uint16_t kQmxC = 0x1F02;

// torvane-cli without --simulate, on the system's clock.
class HidrawCliTest : public ::testing::Test {
protected:
    void Add(std::uint16_t productId, int port) {
        bed.AddFamilyDevice(FamilyDeviceConfig::ForModel(productId, ""), port);
    }

    HidrawTestbed bed{SystemClock()};
};

TEST_F(HidrawCliTest, ANodeThatCannotBeOpenedIsSkippedAndTheDoctorSaysWhy) {
    Add(0x1F01, 1);
    Add(kQmxC, 2);
    bed.AddMouse(3);
    EXPECT_EQ(RunCliWith({"list"}).out.find("hint"), std::string::npos);
    const auto windowHint = [] {
        return linux_hid::UnusableInterfaceHint(family::kVendorId, family::kInputReportId);
    };
    EXPECT_EQ(windowHint(), std::nullopt);
    bed.DenyAccess(2);
    const test::FilePermissionsBind bind;
    const test::CliRun doctor = RunCliWith({"doctor"});
    EXPECT_EQ(doctor.status, cli::kExitFailed);
    EXPECT_EQ(doctor.out,
              "/dev/hidraw0  product 1f01  " + HidrawTestbed::IdPath(1) + "  hidraw  ok\n" +
                  "/dev/hidraw1  product 1f02  " + HidrawTestbed::IdPath(2) +
                  "  hidraw  access denied\n"
                  "  install the udev rule: cmake --install build/linux-release --prefix /usr (or "
                  "copy 70-torvane.rules to /etc/udev/rules.d), then run: udevadm control "
                  "--reload && udevadm trigger; unplug and plug the device in again\n");
    // The window's status line says the same on one line.
    const std::optional<std::string> hint = windowHint();
    ASSERT_TRUE(hint);
    EXPECT_EQ(*hint + "\n",
              "a device of the family was found but cannot be used (/dev/hidraw1: access "
              "denied): " +
                  doctor.out.substr(doctor.out.find("install the udev rule")));
    // The scan skips the node silently; list ends with the hint.
    const test::CliRun list = RunCliWith({"list"});
    EXPECT_EQ(list.status, cli::kExitOk);
    EXPECT_EQ(list.err, "");
    EXPECT_EQ(list.out, "0  QMX-S  " + HidrawTestbed::IdPath(1) +
                            "  3.1.0\nhint: a device of the family was found but could not be "
                            "opened: run torvane-cli doctor\n");
}

// A program killed while it held an interface leaves it without a driver: the next start gives it
// back, that interface only (not another vendor's, not one another program claims), and doctor
// says so; an interface another program claims is busy, in doctor and on the window's line.
TEST_F(HidrawCliTest, AnInterfaceLeftWithoutADriverIsGivenBackAndAClaimedOneIsBusy) {
    Add(kQmxC, 1);
    bed.AddFamilyDevice(FamilyDeviceConfig::ForModel(kQmxC, ""), 2, true, /*interruptOut=*/true);
    bed.AddMouse(3);
    bed.ClaimElsewhere(2);
    const std::string busy = HidrawTestbed::UsbNode(2) + "  product 1f02  " +
                             HidrawTestbed::IdPath(2) +
                             "  usb (interrupt OUT endpoint)  busy: held by another program\n";
    test::CliRun doctor = RunCliWith({"doctor"});
    EXPECT_EQ(doctor.status, cli::kExitFailed);
    EXPECT_EQ(doctor.out,
              "/dev/hidraw0  product 1f02  " + HidrawTestbed::IdPath(1) + "  hidraw  ok\n" + busy);
    EXPECT_EQ(linux_hid::UnusableInterfaceHint(family::kVendorId, family::kInputReportId),
              "a device of the family was found but cannot be used (" + HidrawTestbed::UsbNode(2) +
                  ": busy: held by another program)");

    const std::string killed = "no driver: left by a program that was killed";
    bed.LeaveWithoutDriver(1);
    bed.LeaveWithoutDriver(3);
    doctor = RunCliWith({"doctor"});
    EXPECT_EQ(doctor.out, "/dev/hidraw0  product 1f02  " + HidrawTestbed::IdPath(1) + "  hidraw  " +
                              killed + "; given back\n" + busy);
    EXPECT_EQ(bed.UsbfsLog(1), std::vector<std::string>{"connect"});

    bed.LeaveWithoutDriver(1);
    const test::CliRun list = RunCliWith({"list"});
    EXPECT_EQ(list.err, "torvane-cli: 1-1:1.0 (" + HidrawTestbed::UsbNode(1) + "): " + killed +
                            "; given back\n");
    EXPECT_EQ(list.out.rfind("0  QMX-C  " + HidrawTestbed::IdPath(1) + "  3.1.0\n", 0), 0u)
        << list.out;
    EXPECT_EQ(std::ranges::count(bed.UsbfsLog(2), "connect"), 0);

    // Where the node cannot be opened, doctor says how to give it back.
    bed.LeaveWithoutDriver(1);
    bed.DenyAccess(1);
    const test::FilePermissionsBind bind;
    doctor = RunCliWith({"doctor"});
    EXPECT_NE(
        doctor.out.find("  product 1f02  " + HidrawTestbed::IdPath(1) + "  hidraw  " + killed +
                        " (Permission denied)\n  give it back: echo 1-1:1.0 | sudo tee "
                        "/sys/bus/usb/drivers_probe (or unplug the device and plug it in "
                        "again)\n" +
                        busy),
        std::string::npos)
        << doctor.out;
}

TEST_F(HidrawCliTest, DoctorNamesTheKernelTheReportIoctlsNeed) {
    Add(kQmxC, 1);
    bed.RemoveReportIoctls();
    const test::CliRun doctor = RunCliWith({"doctor"});
    EXPECT_EQ(doctor.status, cli::kExitFailed);
    EXPECT_NE(doctor.out.find("kernel too old for the report ioctls\n  Linux 5.11 or newer"),
              std::string::npos)
        << doctor.out;
}

}  // namespace
}  // namespace torvane
