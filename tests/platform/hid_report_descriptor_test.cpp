#include "platform/hid_report_descriptor.h"

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace torvane {
namespace {

// "page/usage in/out/feature" and "id" when the reports carry IDs.
std::string Describe(const ReportDescriptorSummary& s) {
    char text[64];
    std::snprintf(text, sizeof text, "%04X/%04X %u/%u/%u%s", s.usagePage, s.usage,
                  s.inputReportByteLength, s.outputReportByteLength, s.featureReportByteLength,
                  s.usesReportIds ? " id" : "");
    return text;
}

// Descriptors as devices send them, byte for byte.
TEST(ReportDescriptor, LongestReportsOfRealDescriptors) {
    const std::pair<const char*, std::vector<std::uint8_t>> cases[] = {
        // Vendor reports with IDs: the longest of each kind, plus the ID byte.
        {"FF00/0001 257/64/3 id",
         {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75, 0x08, 0x85, 0x01, 0x95,
          0x07, 0x81, 0x02, 0x85, 0x02, 0x96, 0x00, 0x01, 0x81, 0x02, 0x85, 0x03,
          0x95, 0x3F, 0x91, 0x02, 0x85, 0x04, 0x95, 0x02, 0xB1, 0x02, 0xC0}},
        // Without IDs, a report counts the zero byte before its data. A four-byte usage names its
        // page; Push and Pop restore the report size.
        {"000C/0001 13/0/0",
         {0x0B, 0x01, 0x00, 0x0C, 0x00, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x04, 0xA4, 0x75,
          0x10, 0x81, 0x02, 0xB4, 0x81, 0x02, 0xFE, 0x02, 0x10, 0xAA, 0xBB, 0xC0}},
        // A count without a size carries no data; a collection's size and count add nothing.
        {"0000/0000 0/0/0",
         {0x95, 0x10, 0x81, 0x02, 0x75, 0x08, 0x96, 0xFF, 0xFF, 0xA1, 0x01, 0xC0}},
    };
    for (const auto& [expected, bytes] : cases) {
        const auto summary = SummarizeReportDescriptor(bytes);
        ASSERT_TRUE(summary) << expected;
        EXPECT_EQ(Describe(*summary), expected);
    }
}

TEST(ReportDescriptor, RefusesWhatCannotBeWalked) {
    const std::pair<const char*, std::vector<std::uint8_t>> cases[] = {
        {"item cut short", {0x05, 0x01, 0x26, 0xFF}},
        {"long item cut short", {0xFE, 0x05, 0x10, 0x01}},
        {"report ID 0", {0x85, 0x00}},
        {"Pop without Push", {0xB4}},
        {"a report past 16-bit lengths",
         {0x77, 0x00, 0x00, 0x01, 0x00, 0x97, 0x00, 0x01, 0x00, 0x00, 0x81, 0x02}},
    };
    for (const auto& [name, bytes] : cases) {
        EXPECT_FALSE(SummarizeReportDescriptor(bytes)) << name;
    }
}

}  // namespace
}  // namespace torvane
