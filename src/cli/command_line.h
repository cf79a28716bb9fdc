// The command line of torvane-cli: one command, its arguments and options.
#pragma once

#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace torvane::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

struct CommandLine {
    std::string command;
    std::vector<std::string> arguments;
    std::map<std::string, std::string> options;  // name without dashes -> value ("" for flags)

    bool Has(const std::string& name) const { return options.count(name) != 0; }
};

// Parses args (without the program name). Options may stand anywhere, as --name, --name=value or,
// for options that take a value, --name value. nullopt and a reason for a usage error.
std::optional<CommandLine> ParseCommandLine(std::span<const std::string> args, std::string& error);

// The usage text printed for a usage error and for --help.
const char* UsageText();

}  // namespace torvane::cli
