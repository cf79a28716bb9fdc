#include "protocol/report_log_reader.h"

#include <sstream>

#include <gtest/gtest.h>

namespace torvane {
namespace {

std::optional<LoggedSession> Read(const std::string& text, std::string& error) {
    std::istringstream in(text);
    return ReadReportLog(in, error);
}

// A report of `length` bytes: `head`, then zeros.
std::string Report(std::uint32_t ms, const char* direction, const std::string& head,
                   std::size_t length) {
    std::string line = std::to_string(ms) + " " + direction + " " + head;
    for (std::size_t n = (head.size() + 1) / 3; n < length; ++n) {
        line += " 00";
    }
    return line + "\n";
}

// An update as the log of a QMX-C records it: version query, switch, erase confirmed on the
// first poll, one record and its echo (echo: the echo's bytes after its header), run, version.
std::string UpdateLog(bool deviceLines, const std::string& echo = "00 00 20 AA") {
    std::string log;
    if (deviceLines)
        log += "0 DEVICE 3A7D:1F02 IN 64 OUT 64\n";
    log += Report(0, "OUT", "03 7E 5A 02 04", 64);
    log += Report(0, "IN", "01 7E 5A 04 03 01 00 00 51 4D 58 43 03 00 02", 64);
    log += Report(1, "OUT", "03 7E 5A 0F 00", 64);
    if (deviceLines)
        log += "1800 DEVICE 3A7D:1F00 IN 40 OUT 40\n";
    log += Report(1800, "OUT", "03 7E 5A 01 01", 40);
    log += Report(3200, "OUT", "03 7E 5A 02 02", 40);
    log += Report(3600, "IN", "01 7E 5A 02 01", 40);
    log += Report(3600, "OUT", "03 7E 5A 01 02 00 20 01 AA", 40);
    log += Report(3610, "IN", "01 7E 5A 02 02 " + echo, 40);
    log += Report(3611, "OUT", "03 7E 5A 01 04", 40);
    if (deviceLines)
        log += "8000 DEVICE 3A7D:1F02 IN 64 OUT 64\n";
    log += Report(8000, "OUT", "03 7E 5A 02 04", 64);
    log += Report(8000, "IN", "01 7E 5A 04 03 02 00 00 51 4D 58 43 03 00 02", 64);
    return log;
}

// Each appearance as its time, product, report lengths and number of reports.
TEST(ReportLogReader, FindsEachAppearanceWithOrWithoutDeviceLines) {
    using Appearance =
        std::tuple<std::uint32_t, std::uint16_t, std::uint16_t, std::uint16_t, std::size_t>;
    for (const bool deviceLines : {true, false}) {
        std::string error;
        const auto session = Read(UpdateLog(deviceLines), error);
        ASSERT_TRUE(session) << error;
        std::vector<Appearance> devices;
        for (const LoggedDevice& device : session->devices) {
            devices.emplace_back(device.ms, device.productId, device.caps.inputReportByteLength,
                                 device.caps.outputReportByteLength, device.reports.size());
        }
        EXPECT_EQ(devices, (std::vector<Appearance>{{0, 0x1F02, 64, 64, 3},
                                                    {1800, 0x1F00, 40, 40, 6},
                                                    {8000, 0x1F02, 64, 64, 2}}))
            << deviceLines;
    }
}

TEST(ReportLogReader, DamageIsNamedWithItsLine) {
    const std::string good = "0 DEVICE 3A7D:1F02 IN 64 OUT 64\n";
    const std::pair<std::string, std::string> cases[] = {
        {good + "x OUT 03\n", "line 2: not a line of a report log: 'x OUT 03'"},
        {good + "5 OUT 03\n4 IN 01\n", "line 3: the time goes back, from 5 ms to 4 ms"},
        {good + "5 OUT 03 7G\n",
         "line 2: a report is 1 to 1024 bytes, each two hex digits: '5 OUT 03 7G'"},
        {good + "5 OUT\n", "line 2: a report is 1 to 1024 bytes, each two hex digits: '5 OUT'"},
        {good + "5 SENT 03\n", "line 2: expected DEVICE, OUT or IN after the time: '5 SENT 03'"},
        {"0 DEVICE 3A7D:1F02 IN 64\n",
         "line 1: expected DEVICE VVVV:PPPP IN n OUT m: '0 DEVICE 3A7D:1F02 IN 64'"},
        {"0 OUT 03\n" + good, "line 2: a DEVICE line after reports without one"},
        {"99999999999 OUT 03\n", "line 1: not a line of a report log: '99999999999 OUT 03'"},
        {"\n\n", "the log holds no reports"},
        // No line makes the reader hold more than a report log line can be.
        {std::string(1 << 20, '1'),
         "line 1: longer than 3136 characters, more than a report log line holds"},
        // Without DEVICE lines the model comes from the identity bytes only.
        {"0 OUT 03 7E 5A 02 04\n0 IN 01 7E 5A 04 03 01 00 00 41 42 43 44 03 00 02\n",
         "line 1: the log names no device (it has no DEVICE lines) and the identity bytes it "
         "holds name no model"},
    };
    for (const auto& [text, expected] : cases) {
        std::string error;
        EXPECT_FALSE(Read(text, error)) << text;
        EXPECT_EQ(error, expected) << text;
    }
}

TEST(ReportLogReader, SummaryTellsVersionsRecordsAndTheEnd) {
    std::string error;
    // The whole update's summary is proven by the replay check of the real kernel's log.
    const LogSummary done = Summarize(*Read(UpdateLog(true), error));
    ASSERT_TRUE(done.versionBefore);
    EXPECT_EQ(
        std::tuple(done.versionBefore->line, done.switchLine, done.recordsWritten, done.durationMs),
        std::tuple(3u, 4u, 1u, 8000u));

    // The echo pads with 0x00; one padding byte off fails the record.
    const LogSummary wrong = Summarize(*Read(UpdateLog(true, "00 00 20 AA 01"), error));
    EXPECT_EQ(wrong.recordsWritten, 0u);
    EXPECT_EQ(wrong.firstFailure,
              "line 10: the echo of the record at 0x2000 is wrong at byte 9: 0x01 for 0x00");

    // Cut after the write: half-written.
    std::string cut = UpdateLog(true);
    cut = cut.substr(0, cut.find("3611 OUT"));
    EXPECT_EQ(Summarize(*Read(cut, error)).end,
              "the log ends after 1 records, before the run command: the device was left "
              "half-written");

    // An erase status with only one of its bytes fails the erase.
    std::string half = UpdateLog(true);
    half.replace(half.find("3600 IN 01 7E 5A 02 01"), 22, "3600 IN 01 7E 5A 02 00");
    const LogSummary erase = Summarize(*Read(half, error));
    EXPECT_FALSE(erase.eraseConfirmed);
    EXPECT_EQ(erase.firstFailure, "line 8: the erase failed: its status reply confirms only half");
}

}  // namespace
}  // namespace torvane
