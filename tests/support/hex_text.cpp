#include "support/hex_text.h"

#include <cstdio>
#include <numeric>

namespace torvane::test {

std::string HexLine(std::uint16_t address, std::uint8_t type,
                    const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(data.size()),
                                    static_cast<std::uint8_t>(address >> 8),
                                    static_cast<std::uint8_t>(address & 0xFF), type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    const unsigned sum = std::accumulate(bytes.begin(), bytes.end(), 0u);
    bytes.push_back(static_cast<std::uint8_t>(0x100 - (sum & 0xFF)));
    std::string line = ":";
    for (const std::uint8_t b : bytes) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", b);
        line += pair;
    }
    return line;
}

std::string CrLfFile(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\r\n";
    }
    return text;
}

std::string ImageFor(std::vector<std::uint8_t> identity, int records) {
    identity.insert(identity.end(), {3, 2, 0, 0});
    std::vector<std::string> lines{DataLine(0x2100, identity)};
    for (int i = 0; i < records; ++i) {
        lines.push_back(DataLine(static_cast<std::uint16_t>(0x2200 + 0x20 * i),
                                 std::vector<std::uint8_t>(32, static_cast<std::uint8_t>(i + 1))));
    }
    lines.push_back(DataLine(0x2000, {0xC0, 0xDE}));
    lines.push_back(kEndOfFileLine);
    return CrLfFile(lines);
}

}  // namespace torvane::test
