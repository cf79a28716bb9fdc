// Report logs played back as simulated devices: one recorded on a real kernel (the VM test's
// QMX-C gadget on dummy_hcd), and failing ones recorded here.
#include <gtest/gtest.h>

#include "cli/cli_options.h"
#include "cli/replay_summary.h"
#include "support/cli_files.h"
#include "support/run_cli.h"
#include "support/update_log.h"

namespace torvane::cli {
namespace {

using test::CliRun;
using test::RunCliWith;

const std::string kSample = TORVANE_SAMPLES_DIR "/sample.hex";
const std::string kVmLog = TORVANE_TEST_DATA_DIR "/vm-update.reports";

TEST(Replay, ALogFromARealKernelReplaysTheWholeUpdate) {
    test::Folder folder;
    const CliRun run = RunCliWith({"--simulate=replay:" + kVmLog, "--virtual-time", "update",
                                   kSample, "--flash-dump", folder / "flash.bin"});
    EXPECT_EQ(run.status, kExitOk) << run.err;
    EXPECT_NE(run.out.find("FW update successfully"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("version: 3.2.0\n"), std::string::npos) << run.out;
    const test::TempFile image(test::ReadFile(kSample));
    EXPECT_TRUE(test::ReadFile(folder / "flash.bin") == test::FlashWith(image));

    const CliRun check = RunCliWith({"replay-check", kVmLog});
    EXPECT_EQ(check.status, kExitOk) << check.err;
    for (const char* line :
         {"device: QMX-C, version 3.1.0", "erase: confirmed", "first failure: none\n",
          "end: the new firmware answered with version 3.2.0\n"}) {
        EXPECT_NE(check.out.find(line), std::string::npos) << line << "\n" << check.out;
    }
}

TEST(Replay, AReplayTakesThePortOfItsPlaceAmongTheDevices) {
    const CliRun run = RunCliWith({"--simulate=qmx-s,replay:" + kVmLog, "--virtual-time", "list"});
    EXPECT_NE(run.out.find("1  QMX-C  PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)  -  3.1.0\n"),
              std::string::npos)
        << run.out;
    // The list read the version and sent no more: the log goes on with the switch.
    EXPECT_EQ(run.status, kExitFailed);
}

// A failed update's log replays to the same output and is told as failed.
TEST(Replay, AFailureReplaysToTheSameFailure) {
    test::Folder folder;
    const std::string log = folder / "failed.reports";
    const CliRun recorded = RunCliWith(
        {"--simulate=qmx-c:fail=echo@3", "--virtual-time", "--report-log", log, "update", kSample});
    ASSERT_EQ(recorded.status, kExitFailed);
    const CliRun replayed =
        RunCliWith({"--simulate=replay:" + log, "--virtual-time", "update", kSample});
    EXPECT_EQ(replayed.out, recorded.out);
    const std::string check = RunCliWith({"replay-check", log}).out;
    EXPECT_NE(check.find("end: the update failed, line "), std::string::npos) << check;
    EXPECT_NE(check.find("boot loader version: 1.0.2 (line "), std::string::npos) << check;
    EXPECT_NE(
        check.find("\ncause: record 4 (0x2080): the echo differs at byte 8 (0xCD, not 0xCC)\n"),
        std::string::npos)
        << check;
}

// The device's serial number goes into its log and comes back from the replay; a log of an
// older version, without it, replays a device without one.
TEST(Replay, TheSerialNumberTravelsThroughTheLog) {
    test::Folder folder;
    const std::string log = folder / "serial.reports";
    ASSERT_EQ(RunCliWith({"--simulate=qmx-c:serial=QC-0042", "--virtual-time", "--report-log", log,
                          "update", kSample})
                  .status,
              kExitOk);
    EXPECT_NE(test::ReadFile(log).find(" DEVICE 3A7D:1F02 IN 64 OUT 64 SERIAL QC-0042\n"),
              std::string::npos);
    const CliRun replayed = RunCliWith(
        {"--json", "--simulate=replay:" + log + ",replay:" + kVmLog, "--virtual-time", "list"});
    EXPECT_NE(replayed.out.find("\"serial\":\"QC-0042\""), std::string::npos) << replayed.out;
    EXPECT_NE(replayed.out.find("\"serial\":null"), std::string::npos) << replayed.out;
}

// A report cut short in a digit is refused, by the replay and by the check alike.
TEST(Replay, ADamagedLogIsRefusedWithItsLine) {
    test::TempFile damaged("0 OUT 03 7E 5\n", ".reports");
    const std::string path = damaged.path().string();
    const std::string why =
        "line 1: a report is 1 to 1024 bytes, each two hex digits: '0 OUT 03 7E 5'";
    const CliRun replay = RunCliWith({"--simulate=replay:" + path, "list"});
    EXPECT_EQ(replay.status, kExitFailed);
    EXPECT_EQ(replay.err,
              "torvane-cli: --simulate: device 0: replay: '" + path + "' " + why + "\n");
    const CliRun check = RunCliWith({"replay-check", path});
    EXPECT_EQ(check.status, kExitFailed);
    EXPECT_EQ(check.err, "torvane-cli: '" + path + "' is not a whole report log: " + why + "\n");
}

TEST(ReplaySummary, TellsVersionsRecordsAndTheEnd) {
    std::string error;
    // The whole update's summary is proven by the replay check of the real kernel's log.
    const LogSummary done = Summarize(*test::Read(test::UpdateLog(true), error));
    ASSERT_TRUE(done.versionBefore);
    EXPECT_EQ(
        std::tuple(done.versionBefore->line, done.switchLine, done.recordsWritten, done.durationMs),
        std::tuple(3u, 4u, 1u, 8000u));

    // The echo pads with 0x00; one padding byte off fails the record.
    const LogSummary wrong = Summarize(*test::Read(test::UpdateLog(true, "00 00 20 AA 01"), error));
    EXPECT_EQ(wrong.recordsWritten, 0u);
    EXPECT_EQ(wrong.firstFailure,
              "line 10: the echo of the record at 0x2000 is wrong at byte 9: 0x01 for 0x00");

    // Cut after the write: half-written.
    std::string cut = test::UpdateLog(true);
    cut = cut.substr(0, cut.find("3611 OUT"));
    EXPECT_EQ(Summarize(*test::Read(cut, error)).end,
              "the log ends after 1 records, before the run command: the device was left "
              "half-written");

    // An erase status with only one of its bytes fails the erase.
    std::string half = test::UpdateLog(true);
    half.replace(half.find("3600 IN 01 7E 5A 02 01"), 22, "3600 IN 01 7E 5A 02 00");
    const LogSummary erase = Summarize(*test::Read(half, error));
    EXPECT_FALSE(erase.eraseConfirmed);
    EXPECT_EQ(erase.firstFailure, "line 8: the erase failed: its status reply confirms only half");
}

}  // namespace
}  // namespace torvane::cli
