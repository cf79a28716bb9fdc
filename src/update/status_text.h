// Status texts as the dialog's status line holds them: at most 63 characters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace torvane {

inline constexpr std::size_t kStatusBufferSize = 64;

// Formats a status text into buffer, cut to 63 characters; returns the formatter's result.
int FormatStatus(char (&buffer)[kStatusBufferSize], const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// "FW Parse successfully, cost time ... second" for a load from start to now (tick counts).
std::string ParsedStatus(std::uint32_t start, std::uint32_t now);

}  // namespace torvane
