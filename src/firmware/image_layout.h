// Where an image keeps what the loader and the device read from it: the record written last, and
// the record carrying the identity (bytes 0-6) and the version (bytes 7-10).
#pragma once

#include <cstddef>
#include <cstdint>

namespace torvane::image {

inline constexpr std::uint16_t kStartRecordAddress = 0x2000;
inline constexpr std::uint16_t kIdentityRecordAddress = 0x2100;
inline constexpr std::size_t kIdentitySize = 7;
inline constexpr std::size_t kImageVersionOffset = 7;
inline constexpr std::size_t kImageVersionSize = 4;

}  // namespace torvane::image
