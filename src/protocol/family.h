// The device family in data: identities, report framing, commands and waits.
// Every front end, the engine and the simulator take them from here.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>

#include "firmware/firmware_version.h"
#include "firmware/image_layout.h"

#ifndef TORVANE_FAMILY_VENDOR_ID
#error "TORVANE_FAMILY_VENDOR_ID comes from the build (CMake cache variable)"
#endif

namespace torvane::family {

inline constexpr std::uint16_t kVendorId = TORVANE_FAMILY_VENDOR_ID;
inline constexpr std::uint16_t kBootLoaderProductId = 0x1F00;

// The identity an application reports is the one its image carries.
using image::kIdentitySize;

struct Model {
    std::uint16_t productId;
    std::string_view listText;  // the device list's text
    // What the model's application reports and its images carry at 0x2100 (the simulated
    // family's too); none for the boot loader.
    Identity identity;
    std::string_view identityName;  // the name the identity begins with; empty for the boot loader
};

// The last entry is any model running its boot loader.
inline constexpr std::array<Model, 4> kModels{{
    {0x1F01, "QMX-S", {{'Q', 'M', 'X', 'S', 0x03, 0x00, 0x01}}, "QMXS"},
    {0x1F02, "QMX-C", {{'Q', 'M', 'X', 'C', 0x03, 0x00, 0x02}}, "QMXC"},
    {0x1F10, "TZN", {{'T', 'Z', 'N', 0x00, 0x03, 0x00, 0x10}}, "TZN"},
    {kBootLoaderProductId, "Z51-Arud", {}, {}},
}};

static_assert(std::all_of(kModels.begin(), kModels.end(),
                          [](const Model& model) {
                              return std::equal(model.identityName.begin(),
                                                model.identityName.end(),
                                                model.identity.bytes.begin());
                          }),
              "each identity begins with its name");

// The product IDs of the models, the boot loader's last.
inline constexpr std::array<std::uint16_t, kModels.size()> kProductIds = [] {
    std::array<std::uint16_t, kModels.size()> ids{};
    std::transform(kModels.begin(), kModels.end(), ids.begin(),
                   [](const Model& model) { return model.productId; });
    return ids;
}();

// The model with this product ID, or the one with this list text; nullptr when none has it.
constexpr const Model* FindModel(std::uint16_t productId) {
    const auto model = std::find_if(kModels.begin(), kModels.end(),
                                    [&](const Model& m) { return m.productId == productId; });
    return model == kModels.end() ? nullptr : &*model;
}
constexpr const Model* FindModelByListText(std::string_view listText) {
    const auto model = std::find_if(kModels.begin(), kModels.end(),
                                    [&](const Model& m) { return m.listText == listText; });
    return model == kModels.end() ? nullptr : &*model;
}

// The list text of a family device, or an empty view for any other device.
constexpr std::string_view ListText(std::uint16_t vendorId, std::uint16_t productId) {
    const Model* model = vendorId == kVendorId ? FindModel(productId) : nullptr;
    return model != nullptr ? model->listText : std::string_view();
}

// The identity bytes of the model with this application product ID; none for any other.
constexpr Identity ModelIdentity(std::uint16_t productId) {
    const Model* model = FindModel(productId);
    return model != nullptr ? model->identity : Identity{};
}

// Report framing: ID, two preamble bytes, command (or reply code), subcommand (or status).
inline constexpr std::uint8_t kOutputReportId = 0x03;
inline constexpr std::uint8_t kInputReportId = 0x01;
inline constexpr std::uint8_t kPreamble0 = 0x7E;
inline constexpr std::uint8_t kPreamble1 = 0x5A;
inline constexpr std::size_t kHeaderSize = 5;

// Buffer sizes of the two report formats.
inline constexpr std::size_t kBootReportSize = 40;
inline constexpr std::size_t kAppReportSize = 128;

// Commands: {command, subcommand}.
struct Command {
    std::uint8_t command;
    std::uint8_t subcommand;
};
inline constexpr Command kEnterDownload{0x0F, 0x00};
inline constexpr Command kEraseStart{0x01, 0x01};
inline constexpr Command kEraseStatus{0x02, 0x02};
inline constexpr Command kWriteRecord{0x01, 0x02};
inline constexpr Command kRun{0x01, 0x04};
inline constexpr Command kBootVersion{0x02, 0x0F};
inline constexpr Command kAppVersion{0x02, 0x04};
inline constexpr Command kAppVersionFollowUp{0x01, 0x0F};

// Reply codes and status bytes.
inline constexpr std::uint8_t kEraseStatusReply = 0x02;
inline constexpr std::uint8_t kEraseDone = 0x01;
inline constexpr std::uint8_t kWriteEchoReply = 0x02;
inline constexpr std::uint8_t kWriteEchoStatus = 0x02;
inline constexpr std::uint8_t kBootVersionReply = 0x0F;
inline constexpr std::uint8_t kAppVersionReply = 0x04;
inline constexpr std::uint8_t kFollowUpVersionMajor = 6;

// Reply layouts.
inline constexpr std::size_t kBootVersionOffset = 13;  // three ASCII digits
inline constexpr std::size_t kAppVersionOffset = 4;    // four version bytes
inline constexpr std::size_t kAppIdentityOffset = 8;   // seven identity bytes
inline constexpr std::size_t kWriteEchoAddressOffset = 6;
inline constexpr std::size_t kWriteEchoDataOffset = 8;

// Waits of the report exchange, in milliseconds, and retry counts.
inline constexpr std::uint32_t kEnterDownloadWaitMs = 1000;
inline constexpr std::uint32_t kEraseStartWaitMs = 1000;
inline constexpr std::uint32_t kErasePollWaitMs = 400;
inline constexpr int kErasePolls = 10;
inline constexpr std::uint32_t kWriteEchoWaitMs = 10;
inline constexpr int kBootVersionTries = 3;

// Waits of the update run: the search for the boot loader after the switch, the start of the new
// firmware, and the rescans that close every run.
inline constexpr int kBootLoaderSearchAttempts = 50;
inline constexpr std::uint32_t kScanIntervalMs = 200;
inline constexpr std::uint32_t kRunWaitMs = 2000;
inline constexpr int kClosingScans = 15;

// The image's layout, as the family's devices read it.
using image::kIdentityRecordAddress;
using image::kImageVersionOffset;
using image::kImageVersionSize;
using image::kStartRecordAddress;

// An application below this major version may not be updated.
inline constexpr std::uint8_t kMinUpdatableMajor = 3;

}  // namespace torvane::family
