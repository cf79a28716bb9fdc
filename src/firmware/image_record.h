// The 35-byte write record: one line of the firmware file, and the payload of a write report.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace torvane {

inline constexpr std::size_t kRecordDataSize = 32;

struct ImageRecord {
    std::uint8_t addressLow = 0;
    std::uint8_t addressHigh = 0;
    std::uint8_t length = 0;                           // data bytes in use, 0 to 32
    std::array<std::uint8_t, kRecordDataSize> data{};  // unused bytes are 0xFF

    std::uint16_t Address() const {
        return static_cast<std::uint16_t>(addressHigh << 8 | addressLow);
    }
};
static_assert(sizeof(ImageRecord) == 35, "the record is sent byte for byte");

// The parsed image: every record of the file in file order, the last (the end-of-file record)
// included. imageRecordCount counts the records to write: all but the last.
struct ImageTable {
    std::vector<ImageRecord> imageRecords;
    std::int32_t imageRecordCount = 0;

    bool Loaded() const { return !imageRecords.empty(); }
    void Clear() {
        imageRecords.clear();
        imageRecords.shrink_to_fit();
        imageRecordCount = 0;
    }
};

}  // namespace torvane
