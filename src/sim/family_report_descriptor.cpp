#include "sim/family_report_descriptor.h"

#include "protocol/family.h"

namespace torvane::sim {
namespace {

// One report of byteLength bytes (its ID byte counted) under report ID id, as byte-wide fields;
// nothing for a report without data.
void AddReport(std::vector<std::uint8_t>& out, std::uint8_t id, std::uint16_t byteLength,
               std::uint8_t mainItem) {
    if (byteLength < 2) {
        return;
    }
    const auto count = static_cast<std::uint16_t>(byteLength - 1);
    out.insert(out.end(), {0x85, id, 0x09, 0x01});
    if (count <= 0xFF) {
        out.insert(out.end(), {0x95, static_cast<std::uint8_t>(count)});
    } else {
        out.insert(out.end(), {0x96, static_cast<std::uint8_t>(count & 0xFF),
                               static_cast<std::uint8_t>(count >> 8)});
    }
    out.insert(out.end(), {mainItem, 0x02});  // Data, Variable, Absolute
}

}  // namespace

std::vector<std::uint8_t> FamilyReportDescriptor(const HidCaps& caps) {
    std::vector<std::uint8_t> out{
        0x06, 0x00, 0xFF,  // Usage Page (vendor 0xFF00)
        0x09, 0x01,        // Usage (1)
        0xA1, 0x01,        // Collection (Application)
        0x15, 0x00,        // Logical Minimum (0)
        0x26, 0xFF, 0x00,  // Logical Maximum (255)
        0x75, 0x08,        // Report Size (8)
    };
    AddReport(out, family::kInputReportId, caps.inputReportByteLength, 0x81);
    AddReport(out, family::kOutputReportId, caps.outputReportByteLength, 0x91);
    out.push_back(0xC0);  // End Collection
    return out;
}

}  // namespace torvane::sim
