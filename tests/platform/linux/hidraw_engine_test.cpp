// torvane-cli on hidraw nodes of a umockdev test bed: interfaces left without a driver or held by
// another program, and a kernel without the report ioctls. Whole updates, nodes a user cannot
// open and the give-back after a signal on the Linux backends are the real-kernel test's.
#include <gtest/gtest.h>

#include "cli/cli_options.h"
#include "protocol/family.h"
#include "support/hidraw_testbed.h"
#include "support/run_cli.h"
#include "system/access_findings.h"

namespace torvane {
namespace {

using sim::FamilyDeviceConfig;
using test::HidrawTestbed;
using test::RunCliWith;

constexpr std::uint16_t kQmxC = 0x1F02;

// torvane-cli without --simulate, on the system's clock.
class HidrawCliTest : public ::testing::Test {
protected:
    // The device at port 2 has the serial number "LINE 0002"; the others have none.
    void Add(int port, bool interruptOut = false) {
        FamilyDeviceConfig config = FamilyDeviceConfig::ForModel(kQmxC, "");
        config.serial = port == 2 ? "LINE 0002" : "";
        bed.AddFamilyDevice(config, port, interruptOut);
    }

    HidrawTestbed bed{SystemClock()};
};

// A program killed while it held an interface leaves it without a driver: the next start gives it
// back, that interface only (not another vendor's or product's, not one another program claims,
// not one still being set up), and doctor says so; an interface another program claims is busy,
// in doctor and on the window's line.
TEST_F(HidrawCliTest, AnInterfaceLeftWithoutADriverIsGivenBackAndAClaimedOneIsBusy) {
    Add(1);
    Add(2, /*interruptOut=*/true);
    bed.AddMouse(3);
    bed.LetDriverGo(2, /*claimedElsewhere=*/true);
    const std::string busy = HidrawTestbed::UsbNode(2) + "  product 1f02  " +
                             HidrawTestbed::IdPath(2) +
                             "  usb (interrupt OUT endpoint)  busy: held by another program\n";
    test::CliRun doctor = RunCliWith({"doctor"});
    EXPECT_EQ(doctor.status, cli::kExitFailed);
    EXPECT_EQ(doctor.out,
              "/dev/hidraw0  product 1f02  " + HidrawTestbed::IdPath(1) + "  hidraw  ok\n" + busy);
    EXPECT_EQ(UnusableInterfaceHint(family::kVendorId, family::kInputReportId),
              "a device of the family was found but cannot be used (" + HidrawTestbed::UsbNode(2) +
                  ": busy: held by another program)");

    const std::string killed = "no driver: left by a program that was killed";
    bed.LetDriverGo(1, false);
    bed.LetDriverGo(3, false);
    doctor = RunCliWith({"doctor"});
    EXPECT_EQ(doctor.out, "/dev/hidraw0  product 1f02  " + HidrawTestbed::IdPath(1) + "  hidraw  " +
                              killed + "; given back\n" + busy);

    // Not a product of the family, and one the HID driver is still binding: both left alone.
    FamilyDeviceConfig other = FamilyDeviceConfig::ForModel(kQmxC, "");
    other.productId = 0x1F77;
    bed.AddFamilyDevice(other, 4, /*interruptOut=*/true);
    bed.LetDriverGo(4, false);
    Add(5);
    bed.Probing(5);
    bed.LetDriverGo(1, false);
    const test::CliRun list = RunCliWith({"list"});
    EXPECT_EQ(list.err, "torvane-cli: 1-1:1.0 (" + HidrawTestbed::UsbNode(1) + "): " + killed +
                            "; given back\ntorvane-cli: 1-5:1.0 (" + HidrawTestbed::UsbNode(5) +
                            "): no driver yet: still being set up\n");
    EXPECT_EQ(list.out, "0  QMX-C  " + HidrawTestbed::IdPath(1) + "  -  3.1.0\n1  QMX-C  " +
                            HidrawTestbed::IdPath(2) + "  LINE 0002  no answer\n2  QMX-C  " +
                            HidrawTestbed::IdPath(5) + "  -  3.1.0\n");
}

TEST_F(HidrawCliTest, DoctorNamesTheKernelTheReportIoctlsNeed) {
    Add(1);
    bed.RemoveReportIoctls();
    const test::CliRun doctor = RunCliWith({"doctor"});
    EXPECT_EQ(doctor.status, cli::kExitFailed);
    EXPECT_NE(doctor.out.find("kernel too old for the report ioctls\n  Linux 5.11 or newer"),
              std::string::npos)
        << doctor.out;
}

}  // namespace
}  // namespace torvane
