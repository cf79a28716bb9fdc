// The system's own debug trace channel, one implementation per platform.
#pragma once

#include <string_view>

namespace torvane {

void SystemTrace(std::string_view line);

}  // namespace torvane
