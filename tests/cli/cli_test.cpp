#include "cli/cli_options.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "cli/device_commands.h"
#include "cli/station.h"
#include "cli/time_left.h"
#include "cli/update_many.h"
#include "sim/virtual_clock.h"

#include "support/cli_files.h"
#include "support/hex_text.h"
#include "support/run_cli.h"
#include "support/temp_file.h"

namespace torvane::cli {
namespace {

using test::CrLfFile;
using test::DataLine;
using test::kEndOfFileLine;

using test::CliRun;

CliRun Cli(std::vector<std::string> args) {
    return test::RunCliWith(std::move(args));
}

TEST(InspectCommand, PrintsRecordsInWriteOrderAndASummary) {
    test::TempFile file(
        CrLfFile({DataLine(0x2000, {0x01, 0x02}), DataLine(0x2100, {0xAA}),
                  DataLine(0x2101, {0xBB, 0xCC}), DataLine(0x0000, {}), kEndOfFileLine}));
    const CliRun run = Cli({"inspect", file.path().string()});
    EXPECT_EQ(run.status, kExitOk) << run.err;
    EXPECT_EQ(run.out,
              "write  record  address  length  data\n"
              "    1       1   0x2100       1  AA\n"
              "    2       2   0x2101       2  BB CC\n"
              "    3       3   0x0000       0 \n"
              "    4       0   0x2000       2  01 02\n"
              "records: 5 in the file, 4 to write (the last record is never written)\n"
              "writes: 4 (the record at 0x2000 last)\n"
              "address ranges: 0x2000-0x2001, 0x2100-0x2102\n"
              "identity record (0x2100): present\n"
              "start record (0x2000): present\n"
              "image version: none (no identity record with version bytes)\n");
}

// Usage errors exit with two; a file that does not load, or whose identity differs, with one.
TEST(InspectCommand, RefusalsSayWhy) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"inspect"},
          {"inspect", "a.hex", "--identity", "01020304050G07"},
          {"inspect", "a.hex", "--bogus"}}) {
        EXPECT_EQ(Cli(args).status, kExitUsage) << testing::PrintToString(args);
    }
    EXPECT_EQ(Cli({"inspect", "no-such-file.hex"}).err.rfind("FW File Load error!\n", 0), 0u);
    test::TempFile bad(CrLfFile({DataLine(0x2000, {1}), ":0100000001FF", kEndOfFileLine}));
    const CliRun refused = Cli({"inspect", bad.path().string()});
    EXPECT_EQ(refused.status, kExitFailed);
    EXPECT_EQ(refused.err, "File Parse error!\n" + bad.path().string() +
                               ": line 2: checksum 0xFF does not match, expected 0xFE\n");
    test::TempFile file(
        CrLfFile({DataLine(0x2100, {1, 2, 3, 4, 5, 6, 7, 3, 2, 0, 0}), kEndOfFileLine}));
    const CliRun accepted = Cli({"inspect", file.path().string(), "--identity", "01020304050607"});
    EXPECT_EQ(accepted.status, kExitOk);
    EXPECT_NE(accepted.out.find("image version: 3.2.0\n"), std::string::npos) << accepted.out;
    EXPECT_EQ(Cli({"inspect", "--identity=0102030405060A", file.path().string()}).status,
              kExitFailed);
}

TEST(Cli, FailuresAndRefusalsExitWithOne) {
    test::TempFile image(test::QmxCImage(1));
    const CliRun echo =
        Cli({"--simulate=qmx-c:fail=echo@1", "--virtual-time", "update", image.path().string()});
    EXPECT_EQ(echo.status, kExitFailed);
    EXPECT_NE(
        echo.out.find("update failed: Write FW error!\nrecord 1 (0x2200): the echo differs at "
                      "byte 8 (0x00, not 0x01)\nversion: -\n"),
        std::string::npos)
        << echo.out;

    const CliRun gate =
        Cli({"--simulate=qmx-c:version=2.0.0", "--virtual-time", "update", image.path().string()});
    EXPECT_EQ(gate.status, kExitFailed);
    EXPECT_EQ(gate.err, "This version don't support update\n");

    // An application without a location path is refused before the switch, alone or in
    // update --all; so is the erase of a boot loader that answered no version query.
    for (const char* target : {"--device=0", "--all"}) {
        const CliRun unlocated = Cli({"--simulate=qmx-c:fail=nolocation", "--virtual-time",
                                      "update", image.path().string(), target});
        EXPECT_EQ(unlocated.status, kExitFailed) << target;
        EXPECT_NE(unlocated.out.find("Device location unknown, update refused!"), std::string::npos)
            << unlocated.out;
    }
    const CliRun silent = Cli({"--simulate=qmx-c:boot:fail=noversion", "--virtual-time", "update",
                               image.path().string()});
    EXPECT_EQ(silent.status, kExitFailed);
    EXPECT_NE(silent.out.find("update failed: Bootloader does not answer, not erased!"),
              std::string::npos)
        << silent.out;

    const CliRun parse =
        Cli({"--simulate=qmx-s", "--virtual-time", "update", image.path().string()});
    EXPECT_EQ(parse.status, kExitFailed);
    EXPECT_NE(parse.out.find("update failed: File Parse error!\n" + image.path().string() +
                             ": line 1: identity bytes of the record at 0x2100 differ"),
              std::string::npos)
        << parse.out;

    EXPECT_EQ(Cli({"--simulate", "--virtual-time", "update", "fw.bin"}).status, kExitFailed);
    EXPECT_EQ(
        Cli({"--simulate", "--virtual-time", "update", image.path().string(), "--device", "1"})
            .status,
        kExitFailed);
}

TEST(Cli, ListsAndReadsVersions) {
    const CliRun list =
        Cli({"--simulate=qmx-s:serial=BENCH-7,tzn:boot:bootversion=2.0.1,qmx-c:fail=nolocation,"
             "qmx-c:boot:fail=noversion",
             "list"});
    EXPECT_EQ(list.status, kExitOk);
    EXPECT_EQ(list.out,
              "0  QMX-S  PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)  BENCH-7  3.1.0\n"
              "1  Z51-Arud  PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)  TVS00002  2.0.1\n"
              "2  QMX-C  location unknown  TVS00003  3.1.0\n"
              "3  Z51-Arud  PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)  TVS00004  no answer\n");
    const CliRun json = Cli({"--json", "--simulate=tzn:version=4.5.6", "version", "--device", "0"});
    EXPECT_EQ(json.out, "{\"device\":0,\"event\":\"version\",\"version\":\"4.5.6\"}\n");
    const CliRun silent =
        Cli({"--json", "--simulate=tzn:boot:fail=noversion", "version", "--device", "0"});
    EXPECT_EQ(silent.out, "{\"device\":0,\"event\":\"version\",\"version\":null}\n");
}

// A device whose lock another holder has gets nothing: list shows it busy, version and update
// of it are refused, update --all and the station update only the other.
TEST(Cli, LeavesADeviceAnotherHolderHasAlone) {
    std::string error;
    const auto system = DeviceSystem::Create("tzn:location=P2,qmx-c", true, error);
    const test::TempFile log("", ".reports"), image(test::QmxCImage(4));
    ASSERT_TRUE(system && system->LogReportsTo(log.path().string(), error)) << error;
    std::uint32_t holder = 0;
    const auto lock = system->locks().TryLock("P2", holder);
    const std::string busy = BusyText(CurrentProcessId());
    std::ostringstream out, err;
    TerminalView view(out, err, false, false, system->clock());
    CTorvaneDlg dialog(view, system->interfaces(), system->hid(), system->clock(), system->locks());
    view.Attach(dialog);
    dialog.OnInitDialog();
    EXPECT_EQ(RunList(dialog, view, *system), kExitOk);
    EXPECT_EQ(RunVersion(dialog, view, 0), kExitFailed);
    EXPECT_EQ(RunUpdate(dialog, view, image.path().string(), 0), kExitFailed);
    EXPECT_EQ(out.str(),
              "0  TZN  P2  TVS00001  " + busy +
                  "\n1  QMX-C  PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)  TVS00002  3.1.0\nupdate "
                  "failed: " +
                  busy + "\nversion: -\n");
    EXPECT_EQ(err.str(), busy + "\n");
    EXPECT_EQ(test::ReadFile(log.path()).find(":1F10 "), std::string::npos);

    CliOptions all;
    all.file = image.path().string();
    all.all = true;
    std::ostringstream table;
    EXPECT_EQ(RunUpdateMany(*system, all, {}, table, err, false), kExitFailed);
    EXPECT_TRUE(
        std::regex_search(table.str(), std::regex("\n1 .* QMX-C +TVS00002 +passed +3\\.2\\.0 ")) &&
        std::regex_search(table.str(), std::regex("\n0 +P2 +TZN +TVS00001 +refused +- +" + busy)))
        << table.str();
    // The station leaves it for a later scan, and its run of the other holds that one's lock.
    all.count = 1;
    std::ostringstream station, stationErr;
    EXPECT_EQ(RunStation(*system, all, station, stationErr, false), kExitOk) << station.str();
    EXPECT_EQ(stationErr.str(), "torvane-cli: P2: " + busy + "; taken once it is free\n");
}

// A device written but not verified fails every command that updates, with the cause.
TEST(Cli, AnUpdateThatIsNotVerifiedFailsInEveryCommand) {
    test::TempFile image(test::QmxCImage(4));
    const std::string path = image.path().string();
    const std::vector<std::vector<std::string>> commands{
        {"update", path}, {"update", path, "--all"}, {"station", path, "--count", "1"}};
    for (const auto& [fault, cause] :
         {std::pair{"norun", "the device did not come back in its application"},
          std::pair{"oldversion", "it came back with version 3.1.0, not 3.2.0"}}) {
        for (std::vector<std::string> args : commands) {
            args.insert(args.begin(),
                        {std::string("--simulate=qmx-c:fail=") + fault, "--virtual-time"});
            const CliRun run = Cli(args);
            EXPECT_EQ(run.status, kExitFailed) << testing::PrintToString(args);
            EXPECT_NE(run.out.find(cause), std::string::npos) << run.out;
        }
    }
    // The dialog's first read and the selection's open it twice each before the update does.
    const CliRun json =
        Cli({"--json", "--simulate=qmx-c:fail=denied@7", "--virtual-time", "update", path});
    EXPECT_NE(json.out.find("\"cause\":\"cannot open PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1) "
                            "(Access is denied)\""),
              std::string::npos)
        << json.out;
}

// --version is printed alone wherever it stands; usage errors exit with two.
TEST(Cli, VersionAndUsageErrors) {
    const CliRun version = Cli({"--simulate", "list", "--version"});
    EXPECT_EQ(version.status, kExitOk);
    EXPECT_EQ(version.out + version.err, "torvane-cli " TORVANE_VERSION "\n");
    for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                                 {"frobnicate"},
                                                 {"list", "--virtual-time"},
                                                 {"--simulate", "update"},
                                                 {"--simulate", "version", "--device", "-1"}}) {
        EXPECT_EQ(Cli(args).status, kExitUsage) << testing::PrintToString(args);
    }
}

// Feeds percentages from to to, one every stepMs from now on (now is moved on past the last);
// returns the answer to the last.
std::optional<int> Feed(TimeLeft& left, int from, int to, std::uint32_t stepMs,
                        std::uint32_t& now) {
    std::optional<int> answer;
    for (int percent = from; percent <= to; ++percent, now += stepMs) {
        answer = left.Add(percent, now);
    }
    return answer;
}

// Nothing before 2 seconds and 5 percent since the first value, whichever comes last, then the
// rest at the rate so far; right across a wrap of the clock.
TEST(TimeLeft, ComesOnceTheRateIsSteady) {
    std::uint32_t now = 0xFFFFFC00;
    TimeLeft slow;
    EXPECT_EQ(Feed(slow, 1, 5, 500, now), std::nullopt);  // 2 seconds, 4 percent
    EXPECT_EQ(slow.Add(6, now), 47);                      // 94 percent at 2 per second
    now = 0xFFFFFC00;
    TimeLeft fast;
    EXPECT_EQ(Feed(fast, 1, 20, 100, now), std::nullopt);  // 19 percent in 1.9 seconds
    EXPECT_EQ(fast.Add(21, now), 8);
    EXPECT_EQ(TimeLeftText(8), "0:08 left");
    EXPECT_EQ(TimeLeftText(600), "10:00 left");
    EXPECT_EQ(TimeLeftText(3725), "1:02:05 left");
}

// A device that slows down shows nothing until its new rate held for 2 seconds and 5 percent,
// then the time at the new rate.
TEST(TimeLeft, ARateThatChangesIsMeasuredAfresh) {
    std::uint32_t now = 0;
    TimeLeft left;
    EXPECT_EQ(Feed(left, 1, 30, 100, now), 7);
    EXPECT_EQ(Feed(left, 31, 37, 400, now), std::nullopt);
    EXPECT_EQ(Feed(left, 38, 45, 400, now), 22);  // 55 percent at 2.5 per second
}

// A percentage that goes back, or a status between runs, starts over.
TEST(TimeLeft, ANewRunStartsOver) {
    std::uint32_t now = 0;
    TimeLeft left;
    EXPECT_EQ(Feed(left, 1, 50, 100, now), 5);
    EXPECT_EQ(left.Add(1, now), std::nullopt);
    EXPECT_EQ(Feed(left, 2, 50, 100, now), 5);
    EXPECT_EQ(left.Add(-1, now), std::nullopt);  // a status between runs
    EXPECT_EQ(left.Add(60, now + 100), std::nullopt);
}

// The progress line shows the time left once known, its bar shorter so that the line fits 79
// columns; a line without it covers the longer one.
TEST(TerminalView, ProgressLineShowsTheTimeLeft) {
    sim::VirtualClock clock;
    std::ostringstream out, err;
    TerminalView view(out, err, true, false, clock);
    for (int percent = 1; percent <= 21; ++percent, clock.Sleep(100)) {
        view.ShowTexts("Erase successfully, downloading " + std::to_string(percent) + "%...", "");
    }
    clock.Sleep(900);  // slower: 1 percent in a second
    view.ShowTexts("Erase successfully, downloading 22%...", "");
    view.ShowTexts("FW update successfully, cost time 9.1 second", "");
    const std::string bar = "\r[######........................] ";
    const std::string shorter = "\r[#####......................] ";
    EXPECT_NE(out.str().find(bar + "Erase successfully, downloading 20%..." + shorter +
                             "Erase successfully, downloading 21%...  0:08 left" + bar +
                             "Erase successfully, downloading 22%..." + std::string(8, ' ') +
                             "\nFW update successfully, cost time 9.1 second\n"),
              std::string::npos)
        << out.str();
}

// On the simulator's virtual time: the bar of one update and the rows of update --all show the
// time left, and the JSON progress events carry it once known.
TEST(Cli, UpdatesShowTheTimeLeft) {
    test::TempFile image(test::QmxCImage(400));
    for (const char* target : {"--device=0", "--all"}) {
        const CliRun run = test::RunCliWith(
            {"--simulate=qmx-c", "--virtual-time", "update", image.path().string(), target}, true);
        EXPECT_EQ(run.status, kExitOk) << target;
        EXPECT_TRUE(std::regex_search(run.out, std::regex("%(\\.\\.\\.)?  0:0[1-9] left")))
            << target << run.out;
    }
    const CliRun json =
        Cli({"--json", "--simulate=qmx-c", "--virtual-time", "update", image.path().string()});
    EXPECT_NE(json.out.find("{\"event\":\"progress\",\"percent\":4}\n"), std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("{\"event\":\"progress\",\"percent\":90,\"secondsLeft\":"),
              std::string::npos)
        << json.out;
}

}  // namespace
}  // namespace torvane::cli
