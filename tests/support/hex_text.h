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

}  // namespace torvane::test
