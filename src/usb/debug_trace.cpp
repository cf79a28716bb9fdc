#include "usb/debug_trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/trace_sink.h"

namespace torvane {

void DebugTrace(const char* format, ...) {
    char line[128] = {};
    const int prefix = std::snprintf(line, sizeof line, "<%s> ", "USBIO:");
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line + prefix, sizeof line - static_cast<std::size_t>(prefix), format,
                   arguments);
    va_end(arguments);
    SendTrace(std::string_view(line, std::strlen(line)));
}

}  // namespace torvane
