// A firmware version as the family shows it, "major.minor.patch", and the device identity that
// an application reports and its images carry.
#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "firmware/image_layout.h"

namespace torvane {

struct FirmwareVersion {
    int major = 0;
    int minor = 0;
    int patch = 0;

    // The first three of an application's four version bytes.
    static FirmwareVersion FromBytes(const std::array<std::uint8_t, 4>& bytes);
    // A boot loader's three ASCII digits.
    static FirmwareVersion FromDigits(const std::array<std::uint8_t, 4>& digits);
    // "a.b.c" with each part 0 to 255; nullopt for any other text.
    static std::optional<FirmwareVersion> Parse(std::string_view text);

    std::string Text() const;
    friend auto operator<=>(const FirmwareVersion&, const FirmwareVersion&) = default;
};

// The seven identity bytes: the model's name in the first four, then 03 00 and the product ID's
// low byte.
struct Identity {
    std::array<std::uint8_t, image::kIdentitySize> bytes{};

    friend bool operator==(const Identity&, const Identity&) = default;
    friend auto operator<=>(const Identity&, const Identity&) = default;
};

}  // namespace torvane
