// The report lengths a HID report descriptor declares, counted as the HID class counts them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace torvane {

struct ReportDescriptorSummary {
    // Usage page and usage of the first top-level collection.
    std::uint16_t usagePage = 0;
    std::uint16_t usage = 0;
    // The longest report of each kind in bytes, with one byte for the report ID in front (a
    // zero ID on a device without report IDs); 0 when there is no report of that kind.
    std::uint16_t inputReportByteLength = 0;
    std::uint16_t outputReportByteLength = 0;
    std::uint16_t featureReportByteLength = 0;
    bool usesReportIds = false;
};

// Walks the descriptor's items; nullopt when an item runs past the end, a report ID is 0, a Pop
// has no Push before it, or a report would not fit the 16-bit lengths.
std::optional<ReportDescriptorSummary> SummarizeReportDescriptor(
    std::span<const std::uint8_t> descriptor);

}  // namespace torvane
