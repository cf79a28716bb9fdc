// The engine and torvane-cli on hidraw nodes of a umockdev test bed: scans, whole updates through
// the boot loader's re-enumeration and back, nodes that cannot be opened, and the doctor.
#include <atomic>
#include <chrono>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "app/fake_view.h"
#include "cli/cli_main.h"
#include "cli/cli_options.h"
#include "linux/file_access.h"
#include "linux/hidraw_testbed.h"
#include "sim/virtual_clock.h"
#include "support/hex_text.h"
#include "support/temp_file.h"

namespace torvane {
namespace {

using sim::FamilyDeviceConfig;

constexpr std::uint16_t kQmxC = 0x1F02;

// An image for a QMX-C bringing version 3.2.0: identity, `records` records and the start record.
std::string Image(int records) {
    std::vector<std::string> lines{
        test::DataLine(0x2100, {'Q', 'M', 'X', 'C', 3, 0, 2, 3, 2, 0, 0})};
    for (int i = 0; i < records; ++i) {
        lines.push_back(
            test::DataLine(static_cast<std::uint16_t>(0x2200 + 0x20 * i),
                           std::vector<std::uint8_t>(32, static_cast<std::uint8_t>(i + 1))));
    }
    lines.push_back(test::DataLine(0x2000, {0xC0, 0xDE}));
    lines.push_back(test::kEndOfFileLine);
    return test::CrLfFile(lines);
}

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

CliRun Cli(std::vector<std::string> args) {
    args.insert(args.begin(), "torvane-cli");
    std::vector<const char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(arg.c_str());
    }
    std::ostringstream out;
    std::ostringstream err;
    const int status =
        cli::RunCli(static_cast<int>(argv.size()), argv.data(), out, err, /*terminal=*/false);
    return {status, out.str(), err.str()};
}

// The engine on the system's backends, on virtual time that keeps the test bed in step.
class HidrawEngineTest : public ::testing::Test {
protected:
    HidrawEngineTest() { clock.Attach(bed); }

    void Start() {
        dialog =
            std::make_unique<CTorvaneDlg>(view, SystemDeviceInterfaces(), SystemHidClass(), clock);
        view.dialog = dialog.get();
        dialog->OnInitDialog();
    }
    void Update(const std::string& path) {
        view.file = path;
        dialog->OnBnClickedUpdate();
        dialog->WaitForWorker();
    }
    bool Succeeded() const {
        return !view.statuses.empty() &&
               view.statuses.back().rfind("FW update successfully", 0) == 0;
    }

    sim::VirtualClock time;
    test::TestbedClock clock{time};
    test::HidrawTestbed bed{time};
    test::FakeView view;
    std::unique_ptr<CTorvaneDlg> dialog;
};

TEST_F(HidrawEngineTest, WholeUpdateThroughTheBootLoaderAndBack) {
    sim::FamilyDevice& device = bed.AddFamilyDevice(FamilyDeviceConfig::ForModel(kQmxC, ""), 4);
    bed.AddMouse(1);
    Start();
    ASSERT_EQ(view.entries, std::vector<std::string>{"QMX-C"});
    EXPECT_EQ(dialog->listedLocations[0], test::HidrawTestbed::IdPath(4));
    EXPECT_EQ(view.shownVersion, "3.1.0");

    test::TempFile file(Image(10));
    Update(file.path().string());
    EXPECT_TRUE(Succeeded()) << view.statuses.back();
    EXPECT_TRUE(view.messages.empty());
    // Away into the boot loader (0x1F00) and back: three arrivals at the same port.
    EXPECT_EQ(bed.Arrivals(4), 3);
    EXPECT_EQ(device.eraseCount(), 1);
    EXPECT_EQ(device.flash()[0x2000], 0xC0);
    EXPECT_EQ(device.flash()[0x2200 + 0x20 * 9 + 31], 10);
    EXPECT_EQ(device.appVersion(), (std::array<std::uint8_t, 4>{3, 2, 0, 0}));
    EXPECT_EQ(view.entries, std::vector<std::string>{"QMX-C"});
    EXPECT_EQ(view.shownVersion, "3.2.0");
}

TEST_F(HidrawEngineTest, TwoDevicesOnTwoPortsOnlyTheChosenIsWritten) {
    sim::FamilyDevice& first = bed.AddFamilyDevice(FamilyDeviceConfig::ForModel(kQmxC, ""), 2);
    sim::FamilyDevice& second = bed.AddFamilyDevice(FamilyDeviceConfig::ForModel(kQmxC, ""), 3);
    Start();
    ASSERT_EQ(view.entries, (std::vector<std::string>{"QMX-C", "QMX-C"}));
    EXPECT_EQ(dialog->listedLocations[0], test::HidrawTestbed::IdPath(2));
    EXPECT_EQ(dialog->listedLocations[1], test::HidrawTestbed::IdPath(3));
    view.Select(1);
    dialog->OnCbnSelchangeDevices();
    test::TempFile file(Image(4));
    Update(file.path().string());
    EXPECT_TRUE(Succeeded()) << view.statuses.back();
    EXPECT_EQ(first.eraseCount(), 0);
    EXPECT_EQ(first.flash()[0x2000], 0xFF);
    EXPECT_EQ(second.flash()[0x2000], 0xC0);
    EXPECT_EQ(bed.Arrivals(2), 1);
    EXPECT_EQ(bed.Arrivals(3), 3);
}

TEST_F(HidrawEngineTest, TheScanSkipsANodeItCannotOpenSilently) {
    bed.AddFamilyDevice(FamilyDeviceConfig::ForModel(0x1F01, ""), 1);
    bed.AddFamilyDevice(FamilyDeviceConfig::ForModel(kQmxC, ""), 2);
    bed.DenyAccess(1);
    const test::FilePermissionsBind bind;
    Start();
    EXPECT_EQ(view.entries, std::vector<std::string>{"QMX-C"});
    EXPECT_EQ(dialog->listedLocations[0], test::HidrawTestbed::IdPath(2));
    EXPECT_TRUE(view.messages.empty());
}

// torvane-cli without --simulate, on the system's clock.
class HidrawCliTest : public ::testing::Test {
protected:
    sim::FamilyDevice& Add(std::uint16_t productId, int port) {
        FamilyDeviceConfig config = FamilyDeviceConfig::ForModel(productId, "");
        // Short re-enumerations and erase keep the real-time run short.
        config.switchMs = 300;
        config.restartMs = 300;
        config.eraseMs = 300;
        return bed.AddFamilyDevice(config, port);
    }
    // Keeps the nodes in step with the emulators while the program runs.
    void Follow() {
        follower = std::jthread([this](std::stop_token stop) {
            while (!stop.stop_requested()) {
                bed.Sync();
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
    }

    test::HidrawTestbed bed{SystemClock()};
    std::jthread follower;
};

TEST_F(HidrawCliTest, DoctorSaysWhichNodesCanBeUsed) {
    Add(0x1F01, 1);
    Add(kQmxC, 2);
    bed.AddMouse(3);
    bed.DenyAccess(2);
    const test::FilePermissionsBind bind;
    const std::string vendor = [] {
        char text[8];
        std::snprintf(text, sizeof text, "%04x", family::kVendorId);
        return std::string(text);
    }();
    const CliRun doctor = Cli({"doctor"});
    EXPECT_EQ(doctor.status, cli::kExitFailed);
    EXPECT_EQ(
        doctor.out,
        "/dev/hidraw0  product 1f01  " + test::HidrawTestbed::IdPath(1) + "  ok\n" +
            "/dev/hidraw1  product 1f02  " + test::HidrawTestbed::IdPath(2) +
            "  access denied\n"
            "  install the udev rule: cmake --install build/linux-release --prefix /usr (or copy "
            "70-torvane.rules to /etc/udev/rules.d), then run: udevadm control --reload && "
            "udevadm trigger; unplug and plug the device in again\n");
    // list shows what it can open and ends with the hint.
    const CliRun list = Cli({"list"});
    EXPECT_EQ(list.status, cli::kExitOk) << list.err;
    EXPECT_EQ(list.out, "0  QMX-S  " + test::HidrawTestbed::IdPath(1) +
                            "  3.1.0\nhint: a device of the family was found but could not be "
                            "opened: run torvane-cli doctor\n");
}

TEST_F(HidrawCliTest, DoctorNamesTheKernelTheReportIoctlsNeed) {
    Add(kQmxC, 1);
    bed.RemoveReportIoctls();
    const CliRun doctor = Cli({"doctor", "--json"});
    EXPECT_EQ(doctor.status, cli::kExitFailed);
    EXPECT_NE(doctor.out.find("\"status\":\"kernel too old for the report ioctls\""),
              std::string::npos)
        << doctor.out;
    EXPECT_NE(doctor.out.find("Linux 5.11 or newer is needed"), std::string::npos);
}

TEST_F(HidrawCliTest, DoctorWithoutDevicesAndListWithoutHint) {
    bed.AddMouse(1);
    const CliRun doctor = Cli({"doctor"});
    EXPECT_EQ(doctor.status, cli::kExitFailed);
    EXPECT_NE(doctor.out.find("no hidraw node of vendor"), std::string::npos);
    Add(0x1F10, 2);
    EXPECT_EQ(Cli({"doctor"}).status, cli::kExitOk);
    const CliRun list = Cli({"list"});
    EXPECT_EQ(list.out, "0  TZN  " + test::HidrawTestbed::IdPath(2) + "  3.1.0\n");
}

TEST_F(HidrawCliTest, UpdateWithoutSimulateReenumeratesAndComesBack) {
    sim::FamilyDevice& device = Add(kQmxC, 3);
    Follow();
    test::TempFile file(Image(3));
    const CliRun run = Cli({"update", file.path().string()});
    EXPECT_EQ(run.status, cli::kExitOk) << run.out << run.err;
    EXPECT_NE(run.out.find("version: 3.2.0"), std::string::npos) << run.out;
    follower = {};
    EXPECT_EQ(bed.Arrivals(3), 3);
    EXPECT_EQ(device.flash()[0x2000], 0xC0);
}

}  // namespace
}  // namespace torvane
