#include "cli/station.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/cli_files.h"
#include "support/hex_text.h"
#include "support/run_cli.h"

namespace torvane::cli {
namespace {

using test::CliRun;
using test::Folder;

std::string Port(int n) {
    return "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(" + std::to_string(n) + ")";
}

// A results file's records of the devices that ended, in that order; each run also has its
// started record.
std::vector<nlohmann::json> Ended(const std::string& text) {
    std::vector<nlohmann::json> records = test::Records(text);
    const std::size_t started = std::erase_if(
        records, [](const nlohmann::json& record) { return record["result"] == "started"; });
    EXPECT_EQ(started, records.size()) << text;
    return records;
}

CliRun Station(const std::string& devices, const test::TempFile& image,
               std::vector<std::string> extra) {
    std::vector<std::string> args{"--simulate=" + devices, "--virtual-time", "station",
                                  image.path().string()};
    args.insert(args.end(), extra.begin(), extra.end());
    return test::RunCliWith(args);
}

// Two plugged in at once, one later, one whose echo fails while another runs: each is updated
// once, on its own, and ends in the results file with its own outcome.
TEST(Station, DevicesPluggedAtOnceAndOneAfterAnotherEachEndOnTheirOwn) {
    test::TempFile image(test::QmxCImage(20));
    Folder files;
    const CliRun run =
        Station("qmx-c:plug=1s,qmx-c:plug=1s,qmx-c:plug=40s,qmx-c:fail=echo@3:plug=3s", image,
                {"--count", "4", "--results", files / "results"});
    EXPECT_EQ(run.status, kExitFailed) << run.err;
    const std::vector<nlohmann::json> results = Ended(test::ReadFile(files / "results"));
    ASSERT_EQ(results.size(), 4u) << run.out;
    std::map<std::string, std::string> byPort;  // the outcome, the version after and the status
    for (const nlohmann::json& result : results) {
        const std::string status = result["status"];
        byPort[result["location"]] = result["result"].get<std::string>() + " " +
                                     result["versionAfter"].dump() + " " +
                                     status.substr(0, status.find(','));
    }
    const std::string passed = "passed \"3.2.0\" FW update successfully";
    EXPECT_EQ(byPort,
              (std::map<std::string, std::string>{{Port(1), passed},
                                                  {Port(2), passed},
                                                  {Port(3), passed},
                                                  {Port(4), "failed null Write FW error!"}}));
    // The device plugged in last ends last; its run waited for its plug-in only.
    EXPECT_EQ(results.back()["location"], Port(3));
    EXPECT_LT(results.back()["seconds"].get<double>(), 20.0);
    EXPECT_NE(run.out.find("tally: 3 passed, 1 failed, 0 skipped in "), std::string::npos)
        << run.out;
}

// A device pulled out after its update and plugged in again is new; the re-enumerations of a
// run are not, nor is a device that stays plugged in after its run, however long.
TEST(Station, OnlyAReplugMakesADeviceNew) {
    test::TempFile image(test::QmxCImage(20));
    Folder files;
    const CliRun run = Station("qmx-c:plug=1s/60s:unplug=30s,qmx-c:plug=90s", image,
                               {"--count", "3", "--results", files / "results"});
    EXPECT_EQ(run.status, kExitOk) << run.err;
    const std::vector<nlohmann::json> results = Ended(test::ReadFile(files / "results"));
    ASSERT_EQ(results.size(), 3u) << run.out;
    EXPECT_EQ(results[0]["location"], Port(1));
    EXPECT_EQ(results[1]["location"], Port(1));
    EXPECT_EQ(results[1]["versionBefore"], "3.2.0");  // the first update's
    EXPECT_EQ(results[2]["location"], Port(2));
    for (const nlohmann::json& result : results) {
        EXPECT_EQ(result["result"], "passed");
    }
}

// The results of a station run as "before result after" lines by port, in the order they ended.
std::map<std::string, std::vector<std::string>> ByPort(const std::string& results) {
    std::map<std::string, std::vector<std::string>> byPort;
    for (const nlohmann::json& result : Ended(results)) {
        byPort[result["location"]].push_back(result["versionBefore"].dump() + " " +
                                             result["result"].get<std::string>() + " " +
                                             result["versionAfter"].dump());
    }
    return byPort;
}
using Lines = std::vector<std::string>;

// A port is free as soon as its board has left: a board put in right after is new, and so is a
// board that left in the middle of its writes and came back half-written; a board slow to come
// back from its own run is that run's.
TEST(Station, EachArrivalAtAFreePortIsANewBoard) {
    test::TempFile image(test::QmxCImage(400));
    Folder files;
    CliRun run = Station("qmx-c:location=P:unplug=30s,qmx-c:location=P:version=3.0.5:plug=31s",
                         image, {"--count", "2", "--results", files / "swap"});
    EXPECT_EQ(run.status, kExitOk) << run.err;
    EXPECT_EQ(ByPort(test::ReadFile(files / "swap"))["P"],
              (Lines{"\"3.1.0\" passed \"3.2.0\"", "\"3.0.5\" passed \"3.2.0\""}));

    run = Station("qmx-c:location=H:unplug=5s:plug=6s", image,
                  {"--count", "2", "--results", files / "hub"});
    EXPECT_EQ(run.status, kExitFailed) << run.err;
    EXPECT_EQ(ByPort(test::ReadFile(files / "hub"))["H"],
              (Lines{"\"3.1.0\" failed null", "null passed \"3.2.0\""}));

    run = Station("qmx-c:location=Q:restart=8s", image,
                  {"--count", "1", "--results", files / "late"});
    EXPECT_EQ(run.status, kExitOk) << run.err;
    EXPECT_EQ(ByPort(test::ReadFile(files / "late"))["Q"], (Lines{"\"3.1.0\" passed \"3.2.0\""}));
}

// With --ports the station takes boards only at those locations (a trailing * for all a prefix
// begins) and tells once of each other board, which it leaves untouched; every record and event
// names its board's serial number.
TEST(Station, TakesOnlyTheBenchsPortsAndNamesEachBoardBySerial) {
    test::TempFile image(test::QmxCImage(20));
    Folder files;
    const CliRun run = Station(
        "qmx-c:location=A-1:serial=SN-A1,qmx-c:location=A-2:plug=2s,qmx-c:location=B-1,"
        "qmx-c:fail=nolocation,qmx-c:location=B-2:serial=SN-B2",
        image,
        {"--json", "--count", "3", "--ports", "A-*,B-2", "--results", files / "results",
         "--flash-dump", files / "flash{n}"});
    EXPECT_EQ(run.status, kExitOk) << run.err;
    std::map<std::string, std::string> serials;  // the serial of each result, by location
    for (const nlohmann::json& record : Ended(test::ReadFile(files / "results"))) {
        serials[record["location"]] = record["serial"].dump();
    }
    EXPECT_EQ(serials, (std::map<std::string, std::string>{
                           {"A-1", "\"SN-A1\""}, {"A-2", "\"TVS00002\""}, {"B-2", "\"SN-B2\""}}));
    std::vector<std::string> ignored, statuses;
    for (const nlohmann::json& event : test::Records(run.out)) {
        if (event["event"] == "ignored") {
            ignored.push_back(event["location"].get<std::string>() + " " + event["serial"].dump());
        } else if (event["event"] == "status" && !event["serial"].is_string()) {
            statuses.push_back(event.dump());
        }
    }
    EXPECT_EQ(ignored, (std::vector<std::string>{"B-1 \"TVS00003\"", " \"TVS00004\""}));
    EXPECT_EQ(statuses, std::vector<std::string>{});
    // The boards left alone were not written.
    for (const char* untouched : {"flash2", "flash3"}) {
        EXPECT_TRUE(test::ReadFile(files / untouched) == std::string(0x10000, '\xFF'));
    }
}

// Once it takes no more boards, the station sleeps until its runs end: each of its waits for
// the system's word has a length (a wait of none is followed by a scan, which a station that
// takes no boards makes no more).
TEST(Station, WaitsWithoutSpinningForTheRunsInProgress) {
    struct CountingArrivals final : DeviceArrivals {
        std::unique_ptr<DeviceArrivals> system;
        int waitsOfNone = 0;
        bool Wait(std::uint32_t timeoutMs, bool alone) override {
            waitsOfNone += timeoutMs == 0;
            return system->Wait(timeoutMs, alone);
        }
    } arrivals;
    test::TempFile image(test::QmxCImage(400));
    std::string error;
    const std::unique_ptr<DeviceSystem> system = DeviceSystem::Create("qmx-c", true, error);
    arrivals.system = system->WatchArrivals(error);
    CliOptions options;
    options.file = image.path().string();
    options.count = 1;
    std::ostringstream out, err;
    EXPECT_EQ(RunStation(*system, options, arrivals, out, err, false), kExitOk) << err.str();
    EXPECT_EQ(arrivals.waitsOfNone, 0);
}

// --skip-current and --no-downgrade write neither the current device nor the newer one, and
// say so; a boot loader has no version to compare and is written. Without a version in the
// image they cannot be served. The versions compared are the three bytes the texts show: the
// image's fourth byte does not make it newer than the device.
TEST(Station, SkipsWhatIsCurrentOrNewer) {
    test::TempFile image(
        test::CrLfFile({test::DataLine(0x2100, {'Q', 'M', 'X', 'C', 3, 0, 2, 3, 2, 0, 7}),
                        test::DataLine(0x2000, {0xC0, 0xDE}), test::kEndOfFileLine}));
    Folder files;
    const CliRun run = Station(
        "qmx-c:version=3.2.0,qmx-c:version=3.3.0:plug=1s,qmx-c:version=3.1.9:plug=2s,"
        "qmx-c:boot:plug=3s",
        image,
        {"--skip-current", "--no-downgrade", "--count", "4", "--flash-dump", files / "flash{n}"});
    EXPECT_EQ(run.status, kExitOk) << run.err;
    for (const char* line :
         {"QMX-C  TVS00001  3.2.0 -> 3.2.0  skipped  0.0 s  already current\n",
          "QMX-C  TVS00002  3.3.0 -> 3.3.0  skipped  0.0 s  newer than the image\n",
          "QMX-C  TVS00003  3.1.9 -> 3.2.0  passed", "Z51-Arud  TVS00004  - -> 3.2.0  passed",
          "tally: 2 passed, 0 failed, 2 skipped in "}) {
        EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.out;
    }
    for (const char* skipped : {"flash0", "flash1"}) {
        EXPECT_TRUE(test::ReadFile(files / skipped) == std::string(0x10000, '\xFF'));
    }

    // The same 3.3.0 device is downgraded when it is not refused.
    const CliRun downgraded = Station("qmx-c:version=3.3.0", image, {"--count", "1"});
    EXPECT_EQ(downgraded.status, kExitOk);
    EXPECT_NE(downgraded.out.find("3.3.0 -> 3.2.0  passed"), std::string::npos) << downgraded.out;

    test::TempFile unversioned(test::CrLfFile(
        {test::DataLine(0x2000, {0xC0, 0xDE}), test::DataLine(0x2200, {1}), test::kEndOfFileLine}));
    const CliRun refused = Station("qmx-c", unversioned, {"--skip-current", "--count", "1"});
    EXPECT_EQ(refused.status, kExitUsage);
    EXPECT_NE(refused.err.find("has none (no identity record"), std::string::npos) << refused.err;
    test::TempFile broken(":00000001FE\r\n");
    EXPECT_EQ(Station("qmx-c", broken, {"--count", "1"}).status, kExitFailed);
}

}  // namespace
}  // namespace torvane::cli
