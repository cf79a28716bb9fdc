#include "update/status_text.h"

#include <cstdarg>
#include <cstdio>

namespace torvane {

int FormatStatus(char (&buffer)[kStatusBufferSize], const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const int result = std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    return result;
}

}  // namespace torvane
