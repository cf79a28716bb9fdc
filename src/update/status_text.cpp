#include "update/status_text.h"

#include <cstdarg>
#include <cstdio>

#include "platform/clock.h"
#include "protocol/fixed_texts.h"

namespace torvane {

int FormatStatus(char (&buffer)[kStatusBufferSize], const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const int result = std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    return result;
}

std::string ParsedStatus(std::uint32_t start, std::uint32_t now) {
    char text[kStatusBufferSize];
    FormatStatus(text, texts::kParsedFormat, ElapsedMs(start, now) / 1000.0);
    return text;
}

}  // namespace torvane
