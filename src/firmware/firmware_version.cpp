#include "firmware/firmware_version.h"

#include <charconv>
#include <cstdio>

namespace torvane {

FirmwareVersion FirmwareVersion::FromBytes(const std::array<std::uint8_t, 4>& bytes) {
    return {bytes[0], bytes[1], bytes[2]};
}

FirmwareVersion FirmwareVersion::FromDigits(const std::array<std::uint8_t, 4>& digits) {
    return {digits[0] - '0', digits[1] - '0', digits[2] - '0'};
}

std::optional<FirmwareVersion> FirmwareVersion::Parse(std::string_view text) {
    std::array<int, 3> parts{};
    const char* at = text.data();
    const char* const end = text.data() + text.size();
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            if (at == end || *at != '.') {
                return std::nullopt;
            }
            ++at;
        }
        if (at == end || *at < '0' || *at > '9') {
            return std::nullopt;
        }
        const auto [next, error] = std::from_chars(at, end, parts[i]);
        if (error != std::errc() || parts[i] > 255) {
            return std::nullopt;
        }
        at = next;
    }
    if (at != end) {
        return std::nullopt;
    }
    return FirmwareVersion{parts[0], parts[1], parts[2]};
}

std::string FirmwareVersion::Text() const {
    char text[48];
    std::snprintf(text, sizeof text, "%d.%d.%d", major, minor, patch);
    return text;
}

}  // namespace torvane
