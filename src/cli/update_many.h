// torvane-cli update with several devices: each selected device gets an update run of its own,
// on its own thread, and the command ends with a table of the results.
#pragma once

#include <optional>
#include <ostream>
#include <stop_token>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "discovery/device_table.h"
#include "system/device_system.h"

namespace torvane::cli {

// Why the entries of table named in selection (each listed) cannot be updated at once: a device
// without a location path, or two sharing one; nullopt when they can.
std::optional<std::string> WhyNotAtOnce(const DeviceTable& table,
                                        const std::vector<int>& selection);

// Exit status 0 when every selected device passed (came back with the image's version), 1 when any
// failed, 2 for a selection that cannot be updated at once.
// Once stop is asked for, each run stops between two exchanges.
int RunUpdateMany(DeviceSystem& system, const CliOptions& options, std::stop_token stop,
                  std::ostream& out, std::ostream& err, bool terminal);

}  // namespace torvane::cli
