#include <sstream>

#include <gtest/gtest.h>

#include "app/fake_view.h"
#include "protocol/report_log.h"
#include "sim/simulated_family.h"
#include "sim/virtual_clock.h"
#include "support/hex_text.h"
#include "support/temp_file.h"
#include "update/status_text.h"

namespace torvane {
namespace {

using sim::FamilyDeviceConfig;

constexpr std::uint16_t kQmxC = 0x1F02;

FamilyDeviceConfig Device(std::uint16_t productId, int port) {
    return FamilyDeviceConfig::ForModel(productId, "PCIROOT(0)#USB(" + std::to_string(port) + ")");
}

// The engine on a simulated family, driven through a fake view, every report logged.
class UpdateRunTest : public ::testing::Test {
protected:
    void Start(std::vector<FamilyDeviceConfig> devices) {
        family = std::make_unique<sim::SimulatedFamily>(std::move(devices), clock);
        logged = std::make_unique<ReportLog>(family->hid(), clock, log);
        dialog = std::make_unique<CTorvaneDlg>(view, family->interfaces(), *logged, clock);
        view.dialog = dialog.get();
        dialog->OnInitDialog();
    }
    // Clicks Update with file chosen and waits for the run to end.
    void Update(const std::string& path) {
        view.file = path;
        dialog->OnBnClickedUpdate();
        dialog->WaitForWorker();
    }
    sim::FamilyDevice& device(std::size_t i) { return *family->devices().at(i); }
    bool Idle() {
        return !dialog->updateBusy && dialog->CanClose() && view.enabled[Control::Scan] &&
               view.enabled[Control::Update] && view.enabled[Control::DeviceList] &&
               view.focused == Control::Update;
    }
    // Each logged report as "<ms> <OUT|IN> <command> <subcommand>".
    // The reports of the log, without the lines that name the device at each open.
    std::vector<std::string> Exchanges() const {
        std::vector<std::string> lines;
        std::istringstream in(log.str());
        for (std::string line; std::getline(in, line);) {
            std::istringstream words(line);
            std::string t, direction, id, p0, p1, a, b;
            if (words >> t >> direction >> id >> p0 >> p1 >> a >> b && direction != "DEVICE") {
                lines.push_back(t + " " + direction + " " + a + " " + b);
            }
        }
        return lines;
    }

    sim::VirtualClock clock;
    std::unique_ptr<sim::SimulatedFamily> family;
    std::ostringstream log;
    std::unique_ptr<ReportLog> logged;
    test::FakeView view;
    std::unique_ptr<CTorvaneDlg> dialog;
};

TEST_F(UpdateRunTest, UpdatesAnApplicationEndToEnd) {
    Start({Device(kQmxC, 1)});
    EXPECT_EQ(view.entries, std::vector<std::string>{"QMX-C"});
    EXPECT_EQ(view.shownVersion, "3.1.0");
    test::TempFile file(test::QmxCImage(10));
    const std::uint32_t begin = clock.TickCount();
    Update(file.path().string());

    ASSERT_GE(view.statuses.size(), 2u);
    EXPECT_EQ(view.statuses[1], file.path().string());  // after the empty text of the start
    const std::vector<std::string> expected{
        "FW Parse successfully, cost time 0.0 second",
        "Erase successfully, downloading 7%...",  // 12 records to write, the start record last
        "Erase successfully, downloading 15%...",
        "Erase successfully, downloading 23%...",
        "Erase successfully, downloading 30%...",
        "Erase successfully, downloading 38%...",
        "Erase successfully, downloading 46%...",
        "Erase successfully, downloading 53%...",
        "Erase successfully, downloading 61%...",
        "Erase successfully, downloading 69%...",
        "Erase successfully, downloading 76%...",
        "Erase successfully, downloading 84%...",
        // 1000 ms switch wait, found at the fourth scan (+800), erase done at the third poll
        // (+1000 +1200), twelve records of 10 ms.
        "FW update successfully, cost time 4.1 second",
    };
    EXPECT_EQ(std::vector<std::string>(view.statuses.begin() + 2, view.statuses.end()), expected);
    EXPECT_EQ(view.shownVersion, "3.2.0");
    EXPECT_TRUE(Idle());
    EXPECT_TRUE(view.messages.empty());

    // The flash holds the image; the application came back with the image's version.
    const std::vector<std::uint8_t>& flash = device(0).flash();
    EXPECT_EQ(flash[0x2000], 0xC0);
    EXPECT_EQ(flash[0x2200 + 0x20 * 9 + 31], 10);
    EXPECT_EQ(flash[0x2200 + 0x20 * 10], 0xFF);
    EXPECT_EQ(device(0).appVersion(), (std::array<std::uint8_t, 4>{3, 2, 0, 0}));

    // The exchange, as the report log saw it: times count from the log's start.
    const std::uint32_t t0 = begin;
    std::vector<std::string> exchanges = Exchanges();
    const auto at = [t0](std::uint32_t ms, const char* rest) {
        return std::to_string(t0 + ms) + " " + rest;
    };
    std::vector<std::string> want{at(0, "OUT 0F 00")};  // enter download mode, then 1000 ms
    want.push_back(at(1800, "OUT 01 01"));              // erase after the search's last sleep
    for (std::uint32_t poll = 0; poll < 3; ++poll) {
        want.push_back(at(2800 + 400 * poll, "OUT 02 02"));
        want.push_back(at(3200 + 400 * poll, "IN 00 00"));
    }
    want.back() = at(4000, "IN 02 01");
    for (std::uint32_t record = 0; record < 12; ++record) {
        want.push_back(at(4000 + 10 * record, "OUT 01 02"));
        want.push_back(at(4010 + 10 * record, "IN 02 02"));
    }
    want.push_back(at(4120, "OUT 01 04"));  // run, then 2000 ms and 15 scans of 200 ms
    want.push_back(at(9120, "OUT 02 04"));  // the rescan reads the new application
    want.push_back(at(9120, "IN 04 03"));
    // Whole reports: the switch goes out in the boot loader's format with the application's
    // length; the first record (the identity record) and its echo.
    const auto line = [](const std::string& head, std::vector<int> bytes, std::size_t size,
                         int pad) {
        std::string text = "\n" + head;
        bytes.resize(size, pad);
        for (const int b : bytes) {
            char pair[4];
            std::snprintf(pair, sizeof pair, " %02X", b);
            text += pair;
        }
        return text + "\n";
    };
    const std::vector<int> identity{'Q', 'M', 'X', 'C', 3, 0, 2, 3, 2, 0, 0};
    std::vector<int> request{3, 0x7E, 0x5A, 1, 2, 0x00, 0x21, 11};
    std::vector<int> echo{1, 0x7E, 0x5A, 2, 2, 0, 0x00, 0x21};
    request.insert(request.end(), identity.begin(), identity.end());
    echo.insert(echo.end(), identity.begin(), identity.end());
    const std::string text = log.str();
    EXPECT_NE(text.find(line("0 OUT", {3, 0x7E, 0x5A, 0x0F}, 64, 0)), std::string::npos);
    EXPECT_NE(text.find(line("4000 OUT", request, 40, 0xFF)), std::string::npos);
    EXPECT_NE(text.find(line("4010 IN", echo, 40, 0)), std::string::npos);
    // The log starts with the first selection's read at 0.
    ASSERT_GE(exchanges.size(), 2u);
    EXPECT_EQ(exchanges[0], "0 OUT 02 04");
    EXPECT_EQ(std::vector<std::string>(exchanges.begin() + 2, exchanges.end()), want);
}

TEST_F(UpdateRunTest, UpdatesABootLoaderWithoutTheSwitch) {
    FamilyDeviceConfig boot = Device(kQmxC, 1);
    boot.startInBootLoader = true;
    Start({boot});
    EXPECT_EQ(view.entries, std::vector<std::string>{"Z51-Arud"});
    EXPECT_EQ(view.shownVersion, "1.0.2");
    EXPECT_EQ(dialog->firmwareMajor, 0);  // the gate lets a boot loader through all the same
    // A boot loader reports no identity: an image for another model loads.
    test::TempFile file(test::ImageFor({'T', 'Z', 'N', 0, 3, 0, 0x10}, 4));
    Update(file.path().string());
    EXPECT_EQ(view.statuses.back(), "FW update successfully, cost time 2.3 second");
    EXPECT_EQ(Exchanges().at(2).substr(0, 11), "0 OUT 01 01");  // the erase comes first
    EXPECT_TRUE(Idle());
}

struct FailureCase {
    const char* name;
    void (*configure)(FamilyDeviceConfig&);
    std::string image;
    const char* status;
    std::vector<std::string> messages;
    int erases;  // erase commands the device saw
};

TEST_F(UpdateRunTest, EveryFailureEndsIdleWithItsStatus) {
    const std::vector<FailureCase> cases{
        {"erase never confirmed",
         [](FamilyDeviceConfig& c) { c.faults.eraseNeverConfirmed = true; },
         test::QmxCImage(10),
         "Erase failed!",
         {"FirmWare erase failure"},
         1},
        {"bad echo",
         [](FamilyDeviceConfig& c) { c.faults.wrongEchoAtRecord = 4; },
         test::QmxCImage(10),
         "Write FW error!",
         {},
         1},
        {"unplugged",
         [](FamilyDeviceConfig& c) { c.faults.unplugAtRecord = 2; },
         test::QmxCImage(10),
         "Write FW error!",
         {},
         1},
        {"no boot loader",
         [](FamilyDeviceConfig& c) { c.faults.bootLoaderNeverAppears = true; },
         test::QmxCImage(10),
         "Bootloader not found!",
         {},
         0},
        {"boot loader at another port",
         [](FamilyDeviceConfig& c) { c.faults.returnLocationPath = "PCIROOT(0)#USB(9)"; },
         test::QmxCImage(10),
         "Bootloader not found!",
         {},
         0},
        {"identity of another model",
         [](FamilyDeviceConfig&) {},
         test::ImageFor({'Q', 'M', 'X', 'S', 3, 0, 1}, 3),
         "File Parse error!",
         {},
         0},
        {"malformed file",
         [](FamilyDeviceConfig&) {},
         ":00000001FF\r\n",
         "File Parse error!",
         {},
         0},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        FamilyDeviceConfig config = Device(kQmxC, 1);
        c.configure(config);
        Start({config});
        test::TempFile file(c.image);
        Update(file.path().string());
        EXPECT_EQ(view.statuses.back(), c.status);
        EXPECT_EQ(view.messages, c.messages);
        EXPECT_EQ(device(0).eraseCount(), c.erases);
        EXPECT_TRUE(Idle());
        view = test::FakeView();
    }
}

TEST_F(UpdateRunTest, UnreadableFileAndWrongNameStartNothing) {
    Start({Device(kQmxC, 1)});
    Update("/no/such/dir/fw.hex");
    EXPECT_EQ(view.statuses.back(), "FW File Load error!");
    EXPECT_TRUE(Idle());

    Update("firmware.HEX");
    EXPECT_EQ(view.statuses.back(), "firmware.HEX is not right!");
    const std::size_t before = Exchanges().size();
    view.file.reset();  // a cancelled chooser keeps the text: it still fails the check
    dialog->OnBnClickedUpdate();
    EXPECT_EQ(view.statuses.back(), "firmware.HEX is not right! is not right!");
    EXPECT_EQ(Exchanges().size(), before);
}

TEST_F(UpdateRunTest, OnlyTheChosenOfTwoIdenticalDevicesIsWritten) {
    Start({Device(kQmxC, 1), Device(kQmxC, 2)});
    ASSERT_EQ(view.entries, (std::vector<std::string>{"QMX-C", "QMX-C"}));
    view.Select(1);
    dialog->OnCbnSelchangeDevices();
    test::TempFile file(test::QmxCImage(10));
    Update(file.path().string());
    EXPECT_EQ(view.statuses.back().rfind("FW update successfully", 0), 0u);
    EXPECT_EQ(device(0).eraseCount(), 0);
    EXPECT_EQ(device(0).flash()[0x2000], 0xFF);
    EXPECT_EQ(device(1).flash()[0x2000], 0xC0);
}

// Two ports that differ only past the 255 characters a location path may have: the device sent
// to its boot loader is not found again, and the other one, a boot loader, is not written.
TEST_F(UpdateRunTest, LocationPathsTooLongToHoldFindNoBootLoader) {
    const std::string port(255, 'P');
    FamilyDeviceConfig other = FamilyDeviceConfig::ForModel(kQmxC, port + "2");
    other.startInBootLoader = true;
    Start({FamilyDeviceConfig::ForModel(kQmxC, port + "1"), other});
    test::TempFile file(test::QmxCImage(10));
    Update(file.path().string());
    EXPECT_EQ(view.statuses.back(), "Bootloader not found!");
    EXPECT_EQ(device(0).eraseCount() + device(1).eraseCount(), 0);
    EXPECT_TRUE(Idle());
}

TEST_F(UpdateRunTest, ClicksAndACloseFromTheStartOfTheRunAreRefused) {
    Start({Device(kQmxC, 1), Device(kQmxC, 2)});
    view.Select(1);
    dialog->OnCbnSelchangeDevices();
    for (const Control control : {Control::DeviceList, Control::Scan, Control::Update}) {
        view.enabled[control] = true;  // as the window has them
    }
    test::TempFile file(test::QmxCImage(10));
    bool clicked = false;
    // While the worker opens the device: every control is off, and what slips through anyway
    // (another file chosen, a rescan, another entry) is not followed.
    view.onOpen = [&] {
        if (clicked) {
            return;
        }
        clicked = true;
        EXPECT_FALSE(dialog->CanClose());
        EXPECT_FALSE(view.enabled[Control::DeviceList]);
        EXPECT_FALSE(view.enabled[Control::Scan]);
        EXPECT_FALSE(view.enabled[Control::Update]);
        view.file = "other.hex";
        dialog->OnBnClickedUpdate();
        dialog->OnBnClickedScan();
        EXPECT_EQ(view.selection, 1);
        view.Select(0);
        dialog->OnCbnSelchangeDevices();
        view.Select(1);
    };
    Update(file.path().string());
    EXPECT_TRUE(clicked);
    EXPECT_EQ(view.statuses.back().rfind("FW update successfully", 0), 0u) << view.statuses.back();
    EXPECT_EQ(device(0).eraseCount(), 0);
    EXPECT_EQ(device(1).eraseCount(), 1);
}

TEST_F(UpdateRunTest, TheGateLetsApplicationsFromMajorVersionThree) {
    FamilyDeviceConfig old = Device(kQmxC, 1);
    old.appVersion = {2, 9, 9, 0};
    Start({old, Device(kQmxC, 2)});
    EXPECT_EQ(view.shownVersion, "2.9.9");
    test::TempFile file(test::QmxCImage(10));
    Update(file.path().string());
    EXPECT_EQ(view.messages, std::vector<std::string>{"This version don't support update"});
    EXPECT_EQ(device(0).eraseCount(), 0);

    view.Select(1);
    dialog->OnCbnSelchangeDevices();
    EXPECT_EQ(dialog->firmwareMajor, 3);
    Update(file.path().string());
    EXPECT_EQ(device(1).eraseCount(), 1);
}

TEST_F(UpdateRunTest, ADeviceGoneBeforeTheRunEndsItIdle) {
    Start({Device(kQmxC, 1)});
    device(0).Unplug();
    test::TempFile file(test::QmxCImage(10));
    Update(file.path().string());
    EXPECT_EQ(view.messages, std::vector<std::string>{"QM Device create handle failed!\n"});
    EXPECT_TRUE(Idle());
    EXPECT_TRUE(view.entries.empty());
}

TEST_F(UpdateRunTest, TheListHoldsAtMost128Devices) {
    std::vector<FamilyDeviceConfig> devices;
    for (int port = 1; port <= 130; ++port) {
        devices.push_back(Device(kQmxC, port));
    }
    Start(devices);
    EXPECT_EQ(view.entries.size(), kDeviceTableRows);
    EXPECT_EQ(dialog->listed[127].location, "PCIROOT(0)#USB(128)");
}

TEST_F(UpdateRunTest, WithoutASelectionUpdateStartsNothing) {
    Start({Device(kQmxC, 1)});
    view.selection = -1;
    dialog->OnCbnSelchangeDevices();
    EXPECT_EQ(dialog->deviceSupported, 0);
    dialog->pathStatusText = "fw.hex";
    dialog->OnBnClickedUpdate();
    dialog->WaitForWorker();
    EXPECT_EQ(view.messages, std::vector<std::string>{"QM Device create handle failed!\n"});
    EXPECT_FALSE(dialog->updateBusy);
}

TEST(FormatStatus, CutsAtSixtyThreeCharacters) {
    char buffer[kStatusBufferSize];
    EXPECT_EQ(FormatStatus(buffer, "%s", std::string(80, 'x').c_str()), 80);
    EXPECT_EQ(std::string(buffer), std::string(63, 'x'));
}

}  // namespace
}  // namespace torvane
