// Runs torvane-cli in-process with the given arguments (the program name is added).
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_main.h"

namespace torvane::test {

struct CliRun {
    int status;
    std::string out, err;
};

inline CliRun RunCliWith(std::vector<std::string> args, bool terminal = false) {
    args.insert(args.begin(), "torvane-cli");
    std::vector<const char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(arg.c_str());
    }
    std::ostringstream out, err;
    const int status = cli::RunCli(static_cast<int>(argv.size()), argv.data(), out, err, terminal);
    return {status, out.str(), err.str()};
}

}  // namespace torvane::test
