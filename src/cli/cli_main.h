// torvane-cli as a whole: the arguments in, the exit status out.
#pragma once

#include <ostream>

namespace torvane::cli {

// Runs the command the arguments name. terminal: out is a terminal (progress bar).
int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool terminal);

}  // namespace torvane::cli
