#include "cli/update_many.h"

#include <unistd.h>
#include <filesystem>
#include <regex>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "firmware/hex_image.h"
#include "support/cli_files.h"
#include "support/hex_text.h"
#include "support/run_cli.h"
#include "support/temp_file.h"

namespace torvane::cli {
namespace {

using test::CliRun;
using test::FlashWith;
using test::Folder;

// The table that ends the output with its columns split at runs of spaces and joined with '|', and
// without the updates' times, which differ from run to run.
std::string Table(const std::string& out) {
    const std::string table = out.substr(std::min(out.rfind("#  location"), out.size()));
    return std::regex_replace(
        std::regex_replace(table, std::regex(", cost time [0-9.]+ second"), ""),
        std::regex(" {2,}"), "|");
}

// How often part, which holds no character special to a regex, occurs in text.
std::size_t Count(const std::string& text, const std::string& part) {
    const std::regex pattern(part);
    return static_cast<std::size_t>(
        std::distance(std::sregex_iterator(text.begin(), text.end(), pattern), {}));
}

// Mixed models, one of them in its boot loader: the QMX-S fails alone, since the image carries
// a QMX-C's identity; each device's reports and flash are its own.
TEST(UpdateMany, EachDeviceHasItsOwnRunLogFlashAndResult) {
    test::TempFile image(test::QmxCImage(20));
    Folder files;
    const CliRun run =
        test::RunCliWith({"--simulate=qmx-c,qmx-c,qmx-s,tzn:boot", "--virtual-time", "--report-log",
                          files / "log{n}", "--flash-dump", files / "flash{n}", "update",
                          image.path().string(), "--all"});
    EXPECT_EQ(run.status, kExitFailed);
    EXPECT_EQ(
        Table(run.out),
        "#|location|model|serial|result|version|status\n"
        "0|PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)|QMX-C|TVS00001|passed|3.2.0|FW update "
        "successfully\n"
        "1|PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)|QMX-C|TVS00002|passed|3.2.0|FW update "
        "successfully\n"
        "2|PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)|QMX-S|TVS00003|refused|3.1.0|File Parse error!\n"
        "3|PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)|Z51-Arud|TVS00004|passed|3.2.0|FW update "
        "successfully\n"
        "2: " +
            image.path().string() +
            ": line 1: identity bytes of the record at 0x2100 differ from the device's\n");
    for (const int n : {0, 1, 3}) {
        SCOPED_TRACE(n);
        EXPECT_TRUE(test::ReadFile(files / ("flash" + std::to_string(n))) == FlashWith(image));
        // One switch (applications only), one erase and every record, in this device's log.
        const std::string log = test::ReadFile(files / ("log" + std::to_string(n)));
        EXPECT_EQ(Count(log, " OUT 03 7E 5A 0F 00"), n == 3 ? 0u : 1u);
        EXPECT_EQ(Count(log, " OUT 03 7E 5A 01 01"), 1u);
        EXPECT_EQ(Count(log, " OUT 03 7E 5A 01 02"), 22u);
    }
    EXPECT_TRUE(test::ReadFile(files / "flash2") == std::string(0x10000, '\xFF'));
    EXPECT_EQ(Count(test::ReadFile(files / "log2"), " OUT 03 7E 5A 01 "), 0u);
}

// Every way a run can fail, each on its own device beside one that succeeds, in JSON.
TEST(UpdateMany, AFailingDeviceEndsOnlyItsOwnRun) {
    test::TempFile image(test::QmxCImage(20));
    Folder files;
    const CliRun run =
        test::RunCliWith({"--simulate=qmx-c:fail=echo@3,qmx-c:fail=noreturn,qmx-c,qmx-c:fail=erase,"
                          "qmx-c:fail=unplug@2,qmx-c:version=2.0.0,qmx-c:fail=otherport",
                          "--virtual-time", "--json", "--flash-dump", files / "flash{n}", "update",
                          image.path().string(), "--all"});
    EXPECT_EQ(run.status, kExitFailed);
    std::map<int, nlohmann::json> results;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        const nlohmann::json event = nlohmann::json::parse(line);
        EXPECT_TRUE(event.contains("device") && event.contains("location")) << line;
        if (event["event"] == "result") {
            results[event["device"].get<int>()] = event;
        }
    }
    const std::vector<std::string> want{
        "Write FW error!",      "Bootloader not found!", "FW update successfully",
        "Erase failed!",        "Write FW error!",       "This version don't support update",
        "Bootloader not found!"};
    ASSERT_EQ(results.size(), want.size()) << run.out;
    for (std::size_t n = 0; n < want.size(); ++n) {
        SCOPED_TRACE(n);
        const nlohmann::json& result = results.at(static_cast<int>(n));
        EXPECT_EQ(result["status"].get<std::string>().rfind(want[n], 0), 0u) << result;
        EXPECT_EQ(result["ok"], n == 2);
        EXPECT_EQ(result["model"], "QMX-C");
    }
    EXPECT_TRUE(test::ReadFile(files / "flash2") == FlashWith(image));
    EXPECT_NE(run.err.find("[3] FirmWare erase failure"), std::string::npos) << run.err;
}

TEST(UpdateMany, SelectionsAndRefusals) {
    test::TempFile image(test::QmxCImage(20));
    Folder files;
    const std::string path = image.path().string();
    const CliRun picked =
        test::RunCliWith({"--simulate=qmx-c,qmx-c,qmx-c", "--virtual-time", "--flash-dump",
                          files / "flash{n}", "update", path, "--device", "2,0"});
    EXPECT_EQ(picked.status, kExitOk) << picked.err;
    // The rows in the order given.
    EXPECT_EQ(Table(picked.out),
              "#|location|model|serial|result|version|status\n"
              "2|PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)|QMX-C|TVS00003|passed|3.2.0|FW update "
              "successfully\n"
              "0|PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)|QMX-C|TVS00001|passed|3.2.0|FW update "
              "successfully\n");
    EXPECT_TRUE(test::ReadFile(files / "flash1") == std::string(0x10000, '\xFF'));
    EXPECT_TRUE(test::ReadFile(files / "flash2") == FlashWith(image));

    const std::vector<std::pair<std::vector<std::string>, int>> refused{
        {{"--device", "0,0"}, kExitUsage},
        {{"--device", "0,5"}, kExitFailed},
        {{"--all", "--report-log", files / "one.log"}, kExitUsage},
    };
    for (const auto& [extra, status] : refused) {
        std::vector<std::string> args{"--simulate=qmx-c,qmx-c", "--virtual-time", "update", path};
        args.insert(args.end(), extra.begin(), extra.end());
        const CliRun run = test::RunCliWith(args);
        EXPECT_EQ(run.status, status) << extra.front() << ' ' << extra.back() << ": " << run.err;
        EXPECT_EQ(run.out, "");
    }

    const DeviceTable table{{"QMX-C", 0, "A", {}, {}},
                            {"QMX-C", 1, "", {}, {}},
                            {"QMX-S", 2, "A", {}, {}},
                            {"TZN", 3, "B", {}, {}}};
    EXPECT_EQ(WhyNotAtOnce(table, {1}), std::nullopt);  // alone it is updated as ever
    EXPECT_EQ(WhyNotAtOnce(table, {1, 3}).value_or("").rfind("device 1 has no location path", 0),
              0u);
    EXPECT_EQ(WhyNotAtOnce(table, {0, 3, 2}).value_or("").rfind("devices 0 and 2 share", 0), 0u);
}

// On a terminal, in real time: the live lines are redrawn in place; the table is as without one.
TEST(UpdateMany, LiveLinesOnATerminalInRealTime) {
    test::TempFile image(test::QmxCImage(20));
    const CliRun run = test::RunCliWith(
        {"--simulate=qmx-c,qmx-c:boot", "update", image.path().string(), "--all"}, true);
    EXPECT_EQ(run.status, kExitOk) << run.err;
    EXPECT_NE(run.out.find("\x1b[2A\r\x1b[2K[0] PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(1)  [#"),
              std::string::npos);
}

}  // namespace
}  // namespace torvane::cli
