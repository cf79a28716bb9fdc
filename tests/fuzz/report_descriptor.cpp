// The report descriptor parser on any descriptor.
#include "fuzz_input.h"
#include "platform/hid_report_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using torvane::fuzz::Require;
    const auto summary = torvane::SummarizeReportDescriptor(std::span(data, size));
    if (summary) {
        // A report of any kind takes its ID byte and at least one byte of data.
        for (const std::uint16_t length :
             {summary->inputReportByteLength, summary->outputReportByteLength,
              summary->featureReportByteLength}) {
            Require(length == 0 || length >= 2, "a report length counts its ID byte and data");
        }
    }
    return 0;
}
