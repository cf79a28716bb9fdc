// The "USBIO:" debug trace of the USB access layer: always on, one line per call.
#pragma once

#include <cstdint>

namespace torvane {

// Formats "<USBIO:> " and the message into a 128-byte line, cutting the message so that the line
// and its terminating zero fit, and sends it with SendTrace. Messages carry their own "\n".
// Checked as GNU printf formats, which the trace's formatting takes on every target (mingw would
// otherwise check Microsoft's); clang knows them as printf.
#if defined(__clang__)
void DebugTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));
#else
void DebugTrace(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
#endif

// Handles and addresses are traced with "0x%x": their low 32 bits, on 64-bit builds too.
inline unsigned int TraceValue(std::uintptr_t value) {
    return static_cast<unsigned int>(value & 0xFFFFFFFFu);
}
inline unsigned int TraceValue(const void* address) {
    return TraceValue(reinterpret_cast<std::uintptr_t>(address));
}

}  // namespace torvane
