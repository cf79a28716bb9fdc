#include "platform/system_trace.h"

namespace torvane {

// No system debugger channel here: lines reach only an installed sink.
void SystemTrace(std::string_view) {}

}  // namespace torvane
