// torvane-cli replay-check: what a report log holds, for whoever has to read one from the field.
#pragma once

#include <ostream>
#include <string>

namespace torvane::cli {

// Prints what the log at path holds to out (one JSON object with json); a log that cannot be
// read or is damaged goes to err with the line at fault. Returns the exit status: 0 read (also
// when the exchange it holds failed), 1 unreadable or damaged.
int RunReplayCheck(const std::string& path, std::ostream& out, std::ostream& err, bool json);

}  // namespace torvane::cli
