// torvane-cli inspect: a firmware file as the update would load and write it.
#pragma once

#include <ostream>

#include "cli/command_line.h"

namespace torvane::cli {

// Prints the records in write order and a summary to out; problems go to err. Returns the exit
// status: 0 loaded, 1 refused or unreadable, 2 usage error.
int RunInspect(const CommandLine& line, std::ostream& out, std::ostream& err);

}  // namespace torvane::cli
