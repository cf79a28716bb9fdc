// Little-endian fields of descriptors and request blocks. Callers keep offsets inside the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace torvane {

inline std::uint16_t ReadLe16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

inline std::uint32_t ReadLe32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint32_t>(ReadLe16(bytes, at)) |
           static_cast<std::uint32_t>(ReadLe16(bytes, at + 2)) << 16;
}

inline void WriteLe16(std::span<std::uint8_t> bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<std::uint8_t>(value);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

inline void WriteLe32(std::span<std::uint8_t> bytes, std::size_t at, std::uint32_t value) {
    WriteLe16(bytes, at, static_cast<std::uint16_t>(value));
    WriteLe16(bytes, at + 2, static_cast<std::uint16_t>(value >> 16));
}

}  // namespace torvane
