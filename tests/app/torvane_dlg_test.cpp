#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "protocol/fixed_texts.h"
#include "protocol/report_log.h"
#include "protocol/report_memory.h"
#include "sim/device_list_grammar.h"
#include "sim/simulated_family.h"
#include "sim/virtual_clock.h"
#include "support/fake_view.h"
#include "support/hex_text.h"
#include "support/temp_file.h"
#include "update/status_text.h"
#include "update/update_run.h"

namespace torvane {
namespace {

using sim::FamilyDeviceConfig;

// The engine on a simulated family, driven through a fake view, every report logged.
class TorvaneDlgTest : public ::testing::Test {
protected:
    void Start(std::vector<FamilyDeviceConfig> devices) {
        family = std::make_unique<sim::SimulatedFamily>(std::move(devices), clock);
        logged =
            std::make_unique<ReportLog>(family->hid(), clock, inMemory ? memory.stream() : log);
        dialog = std::make_unique<CTorvaneDlg>(view, family->interfaces(), *logged, clock,
                                               family->locks());
        view.dialog = dialog.get();
        dialog->OnInitDialog();
    }
    // The devices as --simulate names them.
    void Start(const std::string& devices) {
        std::string error;
        Start(*sim::ParseDeviceList(devices, error));
    }
    // Clicks Update with file chosen and waits for the run to end.
    void Update(const std::string& path) {
        view.file = path;
        dialog->OnBnClickedUpdate();
        dialog->WaitForWorker();
    }
    void Choose(int entry) {
        view.Select(entry);
        dialog->OnCbnSelchangeDevices();
    }
    sim::FamilyDevice& device(std::size_t i) { return *family->devices().at(i); }
    bool Idle() {
        return !dialog->updateBusy && dialog->CanClose() && view.enabled[Control::Scan] &&
               view.enabled[Control::Update] && view.enabled[Control::DeviceList] &&
               view.focused == Control::Update;
    }
    // The reports of the log as "<ms> <OUT|IN> <command> <subcommand>", without the lines that
    // name the device at each open.
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

    // The counter wraps 256 ms into every test: times and durations run on across it.
    sim::VirtualClock clock{0xFFFFFF00u};
    std::unique_ptr<sim::SimulatedFamily> family;
    std::ostringstream log;
    // The log kept in memory instead, as a window without a log file keeps it.
    bool inMemory = false;
    ReportMemory memory;
    std::unique_ptr<ReportLog> logged;
    test::FakeView view;
    std::unique_ptr<CTorvaneDlg> dialog;
};

TEST_F(TorvaneDlgTest, UpdatesAnApplicationEndToEnd) {
    Start("qmx-c");
    EXPECT_EQ(view.entries, std::vector<std::string>{"QMX-C"});
    EXPECT_EQ(view.shownVersion, "3.1.0");
    test::TempFile file(test::QmxCImage(10));
    Update(file.path().string());

    // 12 records to write, the start record last; 1000 ms switch wait, found at the fourth scan
    // (+800), erase done at the third poll (+1000 +1200), twelve records of 10 ms.
    std::vector<std::string> statuses{"", file.path().string(),
                                      "FW Parse successfully, cost time 0.0 second"};
    for (const int percent : {7, 15, 23, 30, 38, 46, 53, 61, 69, 76, 84}) {
        statuses.push_back("Erase successfully, downloading " + std::to_string(percent) + "%...");
    }
    statuses.push_back("FW update successfully, cost time 4.1 second");
    EXPECT_EQ(view.statuses, statuses);
    EXPECT_EQ(view.shownVersion, "3.2.0");
    EXPECT_TRUE(Idle());
    EXPECT_TRUE(view.messages.empty());

    // The exchange as the report log saw it, after the first selection's version read.
    std::vector<std::string> want{"0 OUT 02 04", "0 IN 04 03", "0 OUT 0F 00", "1800 OUT 01 01"};
    for (std::uint32_t poll = 0; poll < 3; ++poll) {
        want.push_back(std::to_string(2800 + 400 * poll) + " OUT 02 02");
        want.push_back(std::to_string(3200 + 400 * poll) + " IN 00 00");
    }
    want.back() = "4000 IN 02 01";
    for (std::uint32_t record = 0; record < 12; ++record) {
        want.push_back(std::to_string(4000 + 10 * record) + " OUT 01 02");
        want.push_back(std::to_string(4010 + 10 * record) + " IN 02 02");
    }
    // Run, then 2000 ms and 15 scans of 200 ms; the job reads the new application back at its
    // port, and the rescan reads it again.
    want.insert(want.end(), {"4120 OUT 01 04", "9120 OUT 02 04", "9120 IN 04 03", "9120 OUT 02 04",
                             "9120 IN 04 03"});
    EXPECT_EQ(Exchanges(), want);
}

TEST_F(TorvaneDlgTest, UpdatesABootLoaderWithoutTheSwitch) {
    Start("qmx-c:boot");
    EXPECT_EQ(view.entries, std::vector<std::string>{"Z51-Arud"});
    // A boot loader reports no identity: an image for another model loads.
    test::TempFile file(test::ImageFor({'T', 'Z', 'N', 0, 3, 0, 0x10}, 4));
    Update(file.path().string());
    EXPECT_EQ(view.statuses.back(), "FW update successfully, cost time 2.3 second");
    EXPECT_EQ(Exchanges().at(2).substr(0, 11), "0 OUT 01 01");  // the erase comes first
    EXPECT_TRUE(Idle());
}

// Where each failure leaves the device: an application without a location path is never
// switched, since its boot loader could not be found again, and a boot loader that answered no
// version query is never erased.
TEST_F(TorvaneDlgTest, EveryFailureEndsIdleWithItsStatus) {
    using enum sim::FamilyDevice::Mode;
    const struct {
        const char* devices;
        const char* status;  // null: the file's path stays
        int erases;          // erase commands the device saw
        sim::FamilyDevice::Mode left;
        const char* message = nullptr;
        std::string image = test::QmxCImage(10);
    } cases[] = {
        {"qmx-c:fail=erase", "Erase failed!", 1, BootLoader, "FirmWare erase failure"},
        {"qmx-c:fail=echo@4", "Write FW error!", 1, BootLoader},
        {"qmx-c:fail=unplug@2", "Write FW error!", 1, Unplugged},
        {"qmx-c:fail=noreturn", "Bootloader not found!", 0, Away},
        {"qmx-c:fail=otherport", "Bootloader not found!", 0, BootLoader},
        {"qmx-c:fail=nolocation", texts::kLocationUnknown, 0, Application},
        {"qmx-c:boot:fail=noversion", texts::kBootLoaderSilent, 0, BootLoader},
        // Major version 3 is the first the gate lets through; the others update a 3.1.0.
        {"qmx-c:version=2.9.9", nullptr, 0, Application, "This version don't support update"},
        {"qmx-c", "File Parse error!", 0, Application, nullptr,
         test::ImageFor({'Q', 'M', 'X', 'S', 3, 0, 1}, 3)},
        {"qmx-c", "File Parse error!", 0, Application, nullptr, ":00000001FF\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.devices + (" " + c.image.substr(0, 20)));
        Start(c.devices);
        test::TempFile file(c.image);
        Update(file.path().string());
        EXPECT_EQ(view.statuses.back(), c.status ? c.status : file.path().string());
        EXPECT_EQ(view.messages,
                  c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{});
        EXPECT_EQ(device(0).eraseCount(), c.erases);
        EXPECT_EQ(device(0).mode(), c.left);
        EXPECT_TRUE(c.status ? Idle() : dialog->CanClose());  // the gate refuses before the run
        view = test::FakeView();
    }
}

// An unreadable file, a name that does not end in "hex", and a device gone since the scan, whose
// open fails.
TEST_F(TorvaneDlgTest, AnUnreadableFileAWrongNameOrAGoneDeviceStartNothing) {
    Start("qmx-c");
    Update("/no/such/dir/fw.hex");
    EXPECT_EQ(view.statuses.back(), "FW File Load error!");
    EXPECT_TRUE(Idle());
    Update("firmware.HEX");
    EXPECT_EQ(view.statuses.back(), "firmware.HEX is not right!");
    device(0).Unplug();
    test::TempFile file(test::QmxCImage(10));
    Update(file.path().string());
    EXPECT_EQ(view.messages, std::vector<std::string>{"QM Device create handle failed!\n"});
    EXPECT_TRUE(Idle());
    EXPECT_TRUE(view.entries.empty());
}

// Two ports that differ only past the 255 characters a location path may have: the device has no
// location path, so it is not sent to its boot loader, and the other one, a boot loader, is not
// written.
TEST_F(TorvaneDlgTest, LocationPathsTooLongToHoldAreNone) {
    const std::string port(255, 'P');
    FamilyDeviceConfig other = FamilyDeviceConfig::ForModel(0x1F02, port + "2");
    other.startInBootLoader = true;
    Start({FamilyDeviceConfig::ForModel(0x1F02, port + "1"), other});
    test::TempFile file(test::QmxCImage(10));
    Update(file.path().string());
    EXPECT_EQ(view.statuses.back(), texts::kLocationUnknown);
    EXPECT_EQ(device(0).eraseCount() + device(1).eraseCount(), 0);
    EXPECT_EQ(device(0).mode(), sim::FamilyDevice::Mode::Application);
    EXPECT_TRUE(Idle());
}

// Of two identical devices only the chosen one is written.
TEST_F(TorvaneDlgTest, ClicksAndACloseFromTheStartOfTheRunAreRefused) {
    Start("qmx-c,qmx-c");
    Choose(1);
    view.enabled = {{Control::DeviceList, true}, {Control::Scan, true}, {Control::Update, true}};
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
        EXPECT_EQ(view.enabled, (std::map<Control, bool>{{Control::DeviceList, false},
                                                         {Control::Scan, false},
                                                         {Control::Update, false}}));
        view.file = "other.hex";
        dialog->OnBnClickedUpdate();
        dialog->OnBnClickedScan();
        EXPECT_EQ(view.selection, 1);
        Choose(0);
        view.Select(1);
    };
    Update(file.path().string());
    EXPECT_TRUE(clicked);
    EXPECT_EQ(view.statuses.back().rfind("FW update successfully", 0), 0u) << view.statuses.back();
    EXPECT_EQ(device(0).eraseCount(), 0);
    EXPECT_EQ(device(0).flash()[0x2000], 0xFF);
    EXPECT_EQ(device(1).eraseCount(), 1);
}

TEST_F(TorvaneDlgTest, TheListHoldsAtMost128Devices) {
    std::string devices = "qmx-c";
    for (int port = 2; port <= 130; ++port) {
        devices += ",qmx-c";
    }
    Start(devices);
    EXPECT_EQ(view.entries.size(), kDeviceTableRows);
    EXPECT_EQ(dialog->listed[127].location, "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(128)");
}

TEST(FormatStatus, CutsAtSixtyThreeCharacters) {
    char buffer[kStatusBufferSize];
    EXPECT_EQ(FormatStatus(buffer, "%s", std::string(80, 'x').c_str()), 80);
    EXPECT_EQ(std::string(buffer), std::string(63, 'x'));
}

}  // namespace
}  // namespace torvane

namespace torvane {
namespace {

// A window's list follows the plug: the selection stays on its device by its location, and what
// is selected is read again.
TEST_F(TorvaneDlgTest, APlugOrAPullKeepsTheSelectionOnItsDevice) {
    Start("qmx-s:plug=1s,qmx-c:version=3.1.5");
    ASSERT_EQ(view.entries, std::vector<std::string>{"QMX-C"});
    clock.Sleep(1500);
    dialog->OnDevicesChanged();
    EXPECT_EQ(view.entries, (std::vector<std::string>{"QMX-S", "QMX-C"}));
    EXPECT_EQ(view.selection, 1);
    EXPECT_EQ(view.shownVersion, "3.1.5");
    device(1).Unplug();
    dialog->OnDevicesChanged();
    EXPECT_EQ(view.entries, std::vector<std::string>{"QMX-S"});
    EXPECT_EQ(view.selection, 0);
    EXPECT_EQ(view.shownVersion, "3.1.0");
}

// A device that the scan still lists but that does not open as the list follows the plug is
// leaving: no message box waits for a click.
TEST_F(TorvaneDlgTest, AFollowedPlugShowsNoMessageForADeviceThatDoesNotOpen) {
    Start("qmx-c");
    view.onOpen = [this] { device(0).Unplug(); };
    dialog->OnDevicesChanged();
    EXPECT_EQ(view.entries, std::vector<std::string>{"QMX-C"});
    EXPECT_EQ(view.messages, std::vector<std::string>{});
}

// What a window keeps in memory of a failed update: from the read of the device it updated to
// its closing read, with the cause; it replays to the same end.
TEST_F(TorvaneDlgTest, TheSessionsLogOfAFailedUpdateReplaysToTheSameFailure) {
    inMemory = true;
    Start("qmx-s,qmx-c:fail=echo@6");
    SessionReports reports(logged.get(), &memory);
    dialog->sessionReports = &reports;
    Choose(1);
    test::TempFile image(test::QmxCImage(10));
    Update(image.path().string());
    ASSERT_EQ(view.statuses.back(), "Write FW error!");
    const std::string cause = dialog->lastOutcome->cause;
    EXPECT_EQ(reports.LastCause(), cause);
    EXPECT_FALSE(cause.empty());
    Choose(0);  // after the update: not the update's

    test::TempFile saved("", ".log");
    std::string error;
    ASSERT_TRUE(reports.Save(saved.path().string(), error)) << error;
    std::ifstream in(saved.path());
    const std::optional<LoggedSession> session = ReadReportLog(in, error);
    ASSERT_TRUE(session) << error;
    EXPECT_EQ(session->cause, cause);
    EXPECT_EQ(session->devices.front().productId, 0x1F02);  // the QMX-C's read, not the QMX-S's
    // Then its boot loader, and the closing read of entry 0, the QMX-S: one query, not the
    // second that Choose(0) made after the update.
    ASSERT_EQ(session->devices.size(), 3u);
    EXPECT_EQ(session->devices[1].productId, 0x1F00);
    EXPECT_EQ(session->devices[2].reports.size(), 2u);

    sim::VirtualClock replayClock;
    std::string devices = "replay:" + saved.path().string();
    sim::SimulatedFamily replay(*sim::ParseDeviceList(devices, error), replayClock);
    test::FakeView replayView;
    CTorvaneDlg replayed(replayView, replay.interfaces(), replay.hid(), replayClock,
                         replay.locks());
    replayView.dialog = &replayed;
    replayed.OnInitDialog();
    replayView.file = image.path().string();
    replayed.OnBnClickedUpdate();
    replayed.WaitForWorker();
    EXPECT_EQ(replayView.statuses.back(), "Write FW error!");
    EXPECT_EQ(replayed.lastOutcome->cause, cause);
    EXPECT_EQ(replay.ReplayProblems(), std::vector<std::string>{});
}

}  // namespace
}  // namespace torvane
