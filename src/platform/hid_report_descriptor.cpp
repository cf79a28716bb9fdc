#include "platform/hid_report_descriptor.h"

#include <algorithm>
#include <array>
#include <map>
#include <vector>

namespace torvane {
namespace {

enum ItemType : std::uint8_t { kMain = 0, kGlobal = 1, kLocal = 2 };

// Main item tags.
constexpr std::uint8_t kInput = 0x8;
constexpr std::uint8_t kOutput = 0x9;
constexpr std::uint8_t kCollection = 0xA;
constexpr std::uint8_t kFeature = 0xB;
// Global item tags.
constexpr std::uint8_t kUsagePage = 0x0;
constexpr std::uint8_t kReportSize = 0x7;
constexpr std::uint8_t kReportId = 0x8;
constexpr std::uint8_t kReportCount = 0x9;
constexpr std::uint8_t kPush = 0xA;
constexpr std::uint8_t kPop = 0xB;
// Local item tags.
constexpr std::uint8_t kUsage = 0x0;

constexpr std::uint8_t kLongItem = 0xFE;
constexpr std::uint8_t kApplicationCollection = 0x01;
constexpr std::uint64_t kMaxReportBits = 8ULL * 0xFFFE;

struct Globals {
    std::uint32_t usagePage = 0;
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    std::uint8_t reportId = 0;
};

// Bits of input, output and feature data per report ID.
using ReportBits = std::array<std::uint64_t, 3>;

std::uint32_t LittleEndian(std::span<const std::uint8_t> data) {
    std::uint32_t value = 0;
    for (std::size_t i = data.size(); i > 0; --i) {
        value = value << 8 | data[i - 1];
    }
    return value;
}

std::uint16_t ByteLength(const std::map<std::uint8_t, ReportBits>& reports, std::size_t kind) {
    std::uint64_t longest = 0;
    for (const auto& [id, bits] : reports) {
        longest = std::max(longest, bits[kind]);
    }
    return longest == 0 ? 0 : static_cast<std::uint16_t>((longest + 7) / 8 + 1);
}

}  // namespace

std::optional<ReportDescriptorSummary> SummarizeReportDescriptor(
    std::span<const std::uint8_t> descriptor) {
    ReportDescriptorSummary summary;
    Globals globals;
    std::vector<Globals> stack;
    std::map<std::uint8_t, ReportBits> reports;
    // The last Usage, page in the upper half; 0 when none since the last main item.
    std::uint32_t usage = 0;
    bool collectionSeen = false;

    for (std::size_t at = 0; at < descriptor.size();) {
        const std::uint8_t prefix = descriptor[at];
        if (prefix == kLongItem) {
            // Long items carry no report layout: only their length counts.
            if (descriptor.size() - at < 3 || descriptor.size() - at - 3 < descriptor[at + 1]) {
                return std::nullopt;
            }
            at += 3 + descriptor[at + 1];
            continue;
        }
        const std::size_t size = (prefix & 3) == 3 ? 4 : prefix & 3;
        if (descriptor.size() - at - 1 < size) {
            return std::nullopt;
        }
        const std::uint32_t value = LittleEndian(descriptor.subspan(at + 1, size));
        const auto type = static_cast<std::uint8_t>(prefix >> 2 & 3);
        const auto tag = static_cast<std::uint8_t>(prefix >> 4);
        at += 1 + size;

        if (type == kGlobal) {
            switch (tag) {
                case kUsagePage:
                    globals.usagePage = value;
                    break;
                case kReportSize:
                    globals.reportSize = value;
                    break;
                case kReportCount:
                    globals.reportCount = value;
                    break;
                case kReportId:
                    if (value == 0 || value > 0xFF) {
                        return std::nullopt;
                    }
                    globals.reportId = static_cast<std::uint8_t>(value);
                    summary.usesReportIds = true;
                    break;
                case kPush:
                    stack.push_back(globals);
                    break;
                case kPop:
                    if (stack.empty()) {
                        return std::nullopt;
                    }
                    globals = stack.back();
                    stack.pop_back();
                    break;
                default:
                    break;
            }
        } else if (type == kLocal && tag == kUsage) {
            // A four-byte usage names its page in the upper half.
            usage = size == 4 ? value : (globals.usagePage & 0xFFFF) << 16 | (value & 0xFFFF);
        } else if (type == kMain) {
            if (tag == kCollection && value == kApplicationCollection && !collectionSeen) {
                collectionSeen = true;
                summary.usagePage = static_cast<std::uint16_t>(usage >> 16);
                summary.usage = static_cast<std::uint16_t>(usage & 0xFFFF);
            }
            const std::size_t kind = tag == kInput     ? 0
                                     : tag == kOutput  ? 1
                                     : tag == kFeature ? 2
                                                       : 3;
            if (kind < 3) {
                std::uint64_t& bits = reports[globals.reportId][kind];
                bits += static_cast<std::uint64_t>(globals.reportSize) * globals.reportCount;
                if (bits > kMaxReportBits) {
                    return std::nullopt;
                }
            }
            // Local items last until the next main item.
            usage = 0;
        }
    }
    summary.inputReportByteLength = ByteLength(reports, 0);
    summary.outputReportByteLength = ByteLength(reports, 1);
    summary.featureReportByteLength = ByteLength(reports, 2);
    return summary;
}

}  // namespace torvane
