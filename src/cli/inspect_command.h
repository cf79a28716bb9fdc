// torvane-cli inspect: a firmware file as the update would load and write it.
#pragma once

#include <ostream>

#include <optional>
#include <string>

namespace torvane::cli {

// Prints the records of path in write order and a summary to out; problems go to err. Without
// identity the boot loader's rules apply, with it (14 hex digits) the application's. Returns the
// exit status: 0 loaded, 1 refused or unreadable.
int RunInspect(const std::string& path, const std::optional<std::string>& identity,
               std::ostream& out, std::ostream& err);

}  // namespace torvane::cli
