// torvane-cli: the firmware updater for the terminal.
#include <iostream>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/inspect_command.h"

int main(int argc, char** argv) {
    using namespace torvane::cli;
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    std::string error;
    const std::optional<CommandLine> line = ParseCommandLine(args, error);
    if (!line) {
        std::cerr << "torvane-cli: " << error << '\n' << UsageText();
        return kExitUsage;
    }
    if (line->Has("help")) {
        std::cout << UsageText();
        return kExitOk;
    }
    if (line->command == "inspect") {
        return RunInspect(*line, std::cout, std::cerr);
    }
    std::cerr << "torvane-cli: unknown command " << line->command << '\n' << UsageText();
    return kExitUsage;
}
