#include "protocol/report_log.h"
#include "protocol/report_memory.h"

#include <fstream>

#include <gtest/gtest.h>

#include "support/temp_file.h"
#include "support/update_log.h"

namespace torvane {
namespace {

using test::Read;
using test::UpdateLog;

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

// A serial number is the rest of its line, spaces and all.
TEST(ReportLogReader, ASerialNumberIsTheRestOfItsDeviceLine) {
    std::string error;
    const auto session =
        Read("0 DEVICE 3A7D:1F02 IN 64 OUT 64 SERIAL  AB 12 SERIAL\n1 OUT 03\n", error);
    ASSERT_TRUE(session) << error;
    EXPECT_EQ(session->devices.at(0).serial, " AB 12 SERIAL");
}

TEST(ReportLogReader, DamageIsNamedWithItsLine) {
    const std::string good = "0 DEVICE 3A7D:1F02 IN 64 OUT 64\n";
    const std::pair<std::string, std::string> cases[] = {
        {good + "x OUT 03\n", "line 2: not a line of a report log: 'x OUT 03'"},
        {good + "5 OUT 03\n4 IN 01\n", "line 3: the time goes back, from 5 ms to 4 ms"},
        {good + "5 OUT 03 7G\n",
         "line 2: a report is 1 to 1024 bytes, each two hex digits: '5 OUT 03 7G'"},
        {good + "5 OUT\n", "line 2: a report is 1 to 1024 bytes, each two hex digits: '5 OUT'"},
        {good + "5 SENT 03\n",
         "line 2: expected DEVICE, CAUSE, OUT or IN after the time: '5 SENT 03'"},
        {"0 DEVICE 3A7D:1F02 IN 64\n",
         "line 1: expected DEVICE VVVV:PPPP IN n OUT m [SERIAL text]: '0 DEVICE 3A7D:1F02 IN 64'"},
        {"0 OUT 03\n" + good, "line 2: a DEVICE line after reports without one"},
        {"0 DEVICE 3A7D:1F02 IN 64 OUT 64 SERIAL\n",
         "line 1: expected DEVICE VVVV:PPPP IN n OUT m [SERIAL text]: '0 DEVICE 3A7D:1F02 IN 64 "
         "OUT "
         "64 SERIAL'"},
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

// A log larger than the bound is refused before a line is read (a sparse file of zeros); one at
// the bound is read, and ends at its first line.
TEST(ReportLogReader, ALogLargerThanTheBoundIsRefused) {
    test::TempFile file("", ".log");
    for (const std::int64_t size : {kMaxLogBytes, kMaxLogBytes + 1}) {
        std::filesystem::resize_file(file.path(), static_cast<std::uintmax_t>(size));
        std::ifstream in(file.path(), std::ios::binary);
        std::string error;
        EXPECT_FALSE(ReadReportLog(in, error));
        EXPECT_EQ(error.starts_with("larger than 64 MiB"), size > kMaxLogBytes) << error;
    }
}

// Kept in memory over its bound, the log loses its oldest devices whole: it still starts at a
// DEVICE line and reads back.
TEST(ReportMemory, OverItsBoundTheOldestDevicesGoWhole) {
    ReportMemory memory(200);
    for (int device = 0; device < 5; ++device) {
        memory.stream() << device * 10 << " DEVICE 3A7D:1F02 IN 65 OUT 65\n";
        for (int report = 1; report <= 3; ++report) {
            memory.stream() << device * 10 + report << " OUT 01 7E 5A 02 04\n";
        }
    }
    const std::string text = memory.Text();
    EXPECT_LE(text.size(), 200u);
    EXPECT_TRUE(text.starts_with("30 DEVICE ")) << text;
    std::string error;
    EXPECT_TRUE(Read(text, error)) << error;
}

}  // namespace
}  // namespace torvane
