// torvane-cli doctor: what keeps each HID interface of the family's vendor from being used.
#pragma once

#include <optional>
#include <ostream>
#include <string>

namespace torvane::cli {

// Lists every HID interface of the family's vendor with its node, product ID, location path, the
// transport it is opened with and whether it can be used; says how to fix what is wrong.
// kExitOk when every interface can be used.
int RunDoctor(std::ostream& out, bool json);

// The line list ends with when an interface of the family's vendor was seen but its node could
// not be opened.
std::optional<std::string> DoctorHint();

}  // namespace torvane::cli
