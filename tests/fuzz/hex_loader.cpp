// The HEX loader on any file, under the boot loader's rules and the application's.
#include <algorithm>
#include <cstdio>

#include "firmware/hex_image.h"
#include "firmware/image_layout.h"
#include "fuzz_input.h"

namespace torvane::fuzz {
namespace {

// The simulated QMX-C's identity bytes, which the shipped sample carries at 0x2100.
constexpr Identity kIdentity{{'Q', 'M', 'X', 'C', 3, 0, 2}};

void CheckLoad(const std::uint8_t* data, std::size_t size, const LoadRules& rules) {
    std::FILE* stream = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    Require(stream != nullptr, "the input opens as a stream");
    ImageTable table;
    HexLoadError error;
    const bool loaded = LoadHexImage(stream, rules, table, &error);
    std::fclose(stream);
    if (!loaded) {
        Require(!error.reason.empty() && error.line >= 0, "a refusal says why");
        Require(!table.Loaded(), "a refused file leaves no table");
        return;
    }
    Require(table.imageRecords.size() >= 2, "a loaded file has two records or more");
    Require(table.imageRecordCount + 1 == static_cast<std::int32_t>(table.imageRecords.size()),
            "every record but the last is written");
    for (const ImageRecord& record : table.imageRecords) {
        Require(record.length <= kRecordDataSize, "a record holds at most 32 data bytes");
        Require(std::all_of(record.data.begin() + record.length, record.data.end(),
                            [](std::uint8_t b) { return b == 0xFF; }),
                "bytes past a record's length are 0xFF");
        const std::uint8_t high = record.addressHigh;
        Require(high == 0x00 || record.addressLow == 0x00 || (high >= 0x20 && high <= 0xEF),
                "every record lies in the accepted ranges");
        if (rules.bootMode == 0 && record.Address() == image::kIdentityRecordAddress) {
            Require(std::equal(kIdentity.bytes.begin(), kIdentity.bytes.end(), record.data.begin()),
                    "the identity record carries the application's identity");
        }
    }
}

}  // namespace
}  // namespace torvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace torvane;
    fuzz::CheckLoad(data, size, LoadRules{1, {}});
    fuzz::CheckLoad(data, size, LoadRules{0, fuzz::kIdentity});
    return 0;
}
