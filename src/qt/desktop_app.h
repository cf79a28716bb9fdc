// The program torvane on Linux: its options, one copy per user session, what it talks to, and
// the main window as the whole life of the program.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace torvane::qt {

struct DesktopOptions {
    std::optional<std::string> simulate;  // the DEVICES text of --simulate[=DEVICES]
    bool virtualTime = false;
    std::string reportLog;
    bool version = false;
};

// The simulator's options, --report-log FILE and --version; every other argument is ignored, as
// a file dropped on the program or a launcher's argument would be. False and a reason when the
// options do not go together or one lacks its value.
bool ParseDesktopOptions(const std::vector<std::string>& args, DesktopOptions& options,
                         std::string& error);

// The program's main: the arguments as main receives them; the exit status. A second copy in
// the same user session ends at once, with status 0 and no window.
int RunDesktop(int argc, char** argv);

}  // namespace torvane::qt
