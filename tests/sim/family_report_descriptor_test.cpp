#include "sim/family_report_descriptor.h"

#include <gtest/gtest.h>

#include "platform/hid_report_descriptor.h"
#include "sim/family_device.h"

namespace torvane::sim {
namespace {

TEST(FamilyReportDescriptor, ApplicationDescriptorByteForByte) {
    const std::vector<std::uint8_t> expected{
        0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00,
        0x75, 0x08, 0x85, 0x01, 0x09, 0x01, 0x95, 0x3F, 0x81, 0x02,  // input report 1: 63 bytes
        0x85, 0x03, 0x09, 0x01, 0x95, 0x3F, 0x91, 0x02,              // output report 3: 63 bytes
        0xC0};
    EXPECT_EQ(FamilyReportDescriptor(FamilyDeviceConfig{}.appCaps), expected);
}

TEST(FamilyReportDescriptor, CountsBackToTheCapsItWasMadeFrom) {
    const FamilyDeviceConfig config;
    for (const HidCaps& caps : {config.appCaps, config.bootCaps, HidCaps{1, 0xFF00, 300, 2, 0},
                                HidCaps{1, 0xFF00, 0, 64, 0}}) {
        const auto summary = SummarizeReportDescriptor(FamilyReportDescriptor(caps));
        ASSERT_TRUE(summary);
        EXPECT_EQ(summary->inputReportByteLength, caps.inputReportByteLength);
        EXPECT_EQ(summary->outputReportByteLength, caps.outputReportByteLength);
        EXPECT_EQ(summary->usagePage, 0xFF00);
        EXPECT_EQ(summary->usage, 1);
        EXPECT_TRUE(summary->usesReportIds);
    }
}

}  // namespace
}  // namespace torvane::sim
