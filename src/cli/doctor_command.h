// torvane-cli doctor: what keeps each hidraw node of the family's vendor from being used.
#pragma once

#include <optional>
#include <ostream>
#include <string>

namespace torvane::cli {

// Lists every hidraw node of the family's vendor with its product ID, its location path and
// whether it can be used; says how to fix what is wrong. kExitOk when every node can be used.
int RunDoctor(std::ostream& out, bool json);

// The line list ends with when a node of the family's vendor was seen but could not be opened.
std::optional<std::string> DoctorHint();

}  // namespace torvane::cli
