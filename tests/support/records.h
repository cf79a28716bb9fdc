// Write records for tests, padded as the loader pads them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "firmware/image_record.h"

namespace torvane::test {

inline ImageRecord Record(std::uint16_t address, const std::vector<std::uint8_t>& data) {
    ImageRecord record;
    record.addressLow = static_cast<std::uint8_t>(address);
    record.addressHigh = static_cast<std::uint8_t>(address >> 8);
    record.length = static_cast<std::uint8_t>(data.size());
    record.data.fill(0xFF);
    std::copy(data.begin(), data.end(), record.data.begin());
    return record;
}

}  // namespace torvane::test
