#include "protocol/report_log.h"

#include <sstream>

#include <gtest/gtest.h>

#include "sim/virtual_clock.h"

namespace torvane {
namespace {

class EchoingHid final : public HidClass {
public:
    Guid HidGuid() override { return {}; }
    bool GetAttributes(DeviceHandle, HidAttributes&) override { return true; }
    bool GetCaps(DeviceHandle, HidCaps&) override { return true; }
    bool SetOutputReport(DeviceHandle, std::span<const std::uint8_t>) override { return accept; }
    bool GetInputReport(DeviceHandle, std::span<std::uint8_t> report) override {
        report[1] = 0xAB;
        return accept;
    }
    bool accept = true;
};

TEST(ReportLog, OneLinePerReportWithElapsedTimeAndUpperCaseBytes) {
    sim::VirtualClock clock(0xFFFFFF00u);  // the log's times run on across the counter's wrap
    EchoingHid inner;
    std::ostringstream out;
    ReportLog log(inner, clock, out);
    const std::uint8_t request[3] = {0x03, 0x7E, 0x0A};
    std::uint8_t reply[3] = {0x01, 0x00, 0x00};

    clock.Sleep(0x100 + 10);
    EXPECT_TRUE(log.SetOutputReport(DeviceHandle{1}, request));
    clock.Sleep(400);
    EXPECT_TRUE(log.GetInputReport(DeviceHandle{1}, reply));
    inner.accept = false;  // nothing crossed: nothing logged
    EXPECT_FALSE(log.SetOutputReport(DeviceHandle{1}, request));
    EXPECT_FALSE(log.GetInputReport(DeviceHandle{1}, reply));

    EXPECT_EQ(out.str(), "266 OUT 03 7E 0A\n666 IN 01 AB 00\n");
}

}  // namespace
}  // namespace torvane
