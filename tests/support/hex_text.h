// Intel HEX text for tests, with correct checksums unless asked otherwise.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace torvane::test {

// ":" + count + address + type + data + checksum, no line end.
std::string HexLine(std::uint16_t address, std::uint8_t type,
                    const std::vector<std::uint8_t>& data);

inline std::string DataLine(std::uint16_t address, const std::vector<std::uint8_t>& data) {
    return HexLine(address, 0x00, data);
}

inline constexpr const char* kEndOfFileLine = ":00000001FF";

// The lines joined with CR LF after each, the form every tool writes.
std::string CrLfFile(const std::vector<std::string>& lines);

// An image that brings version 3.2.0 to the model whose identity bytes (name and boot-loader
// version, 7 bytes) are given: the identity record, `records` records of 32 bytes from 0x2200
// (record i filled with i + 1) and the start record C0 DE at 0x2000, as a CR LF file.
std::string ImageFor(std::vector<std::uint8_t> identity, int records);

// The image for a QMX-C, whose simulated boot loader is version 3.0.2.
inline std::string QmxCImage(int records) {
    return ImageFor({'Q', 'M', 'X', 'C', 3, 0, 2}, records);
}

}  // namespace torvane::test
