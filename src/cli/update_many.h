// torvane-cli update with several devices: each selected device gets an update run of its own,
// on its own thread, and the command ends with a table of the results.
#pragma once

#include <ostream>

#include "cli/cli_options.h"
#include "cli/cli_system.h"

namespace torvane::cli {

// Exit status 0 when every selected device ended with "FW update successfully", 1 when any
// failed, 2 for a selection that cannot be updated at once.
int RunUpdateMany(CliSystem& system, const CliOptions& options, std::ostream& out,
                  std::ostream& err, bool terminal);

}  // namespace torvane::cli
