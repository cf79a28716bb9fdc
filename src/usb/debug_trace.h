// The "USBIO:" debug trace of the USB access layer: always on, one line per call.
#pragma once

#include <cstdint>

namespace torvane {

// Formats "<USBIO:> " and the message into a 128-byte line, cutting the message so that the line
// and its terminating zero fit, and sends it with SendTrace. Messages carry their own "\n".
void DebugTrace(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));

// Handles and addresses are traced with "0x%x": their low 32 bits, on 64-bit builds too.
inline unsigned int TraceValue(std::uintptr_t value) {
    return static_cast<unsigned int>(value & 0xFFFFFFFFu);
}
inline unsigned int TraceValue(const void* address) {
    return TraceValue(reinterpret_cast<std::uintptr_t>(address));
}

}  // namespace torvane
