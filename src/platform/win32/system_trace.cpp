#include <windows.h>

#include <string>

#include "platform/system_trace.h"

namespace torvane {

void SystemTrace(std::string_view line) {
    ::OutputDebugStringA(std::string(line).c_str());
}

}  // namespace torvane
