#include "cli/command_line.h"

#include <array>
#include <string_view>

namespace torvane::cli {
namespace {

struct OptionSpec {
    std::string_view name;
    bool takesValue;
};

constexpr std::array<OptionSpec, 2> kOptions{{
    {"identity", true},
    {"help", false},
}};

const OptionSpec* FindOption(std::string_view name) {
    for (const OptionSpec& spec : kOptions) {
        if (spec.name == name) {
            return &spec;
        }
    }
    return nullptr;
}

}  // namespace

const char* UsageText() {
    return "usage: torvane-cli [options] COMMAND\n"
           "\n"
           "commands:\n"
           "  inspect FILE [--identity HEX14]\n"
           "      load FILE as an update would and print its records in write order;\n"
           "      with --identity, check it for an application with these 7 identity bytes\n";
}

std::optional<CommandLine> ParseCommandLine(std::span<const std::string> args, std::string& error) {
    CommandLine line;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            if (line.command.empty()) {
                line.command = arg;
            } else {
                line.arguments.push_back(arg);
            }
            continue;
        }
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(2, equals == std::string::npos ? equals : equals - 2);
        const OptionSpec* spec = FindOption(name);
        if (spec == nullptr) {
            error = "unknown option --" + name;
            return std::nullopt;
        }
        std::string value;
        if (equals != std::string::npos) {
            if (!spec->takesValue) {
                error = "option --" + name + " takes no value";
                return std::nullopt;
            }
            value = arg.substr(equals + 1);
        } else if (spec->takesValue) {
            if (i + 1 >= args.size()) {
                error = "option --" + name + " needs a value";
                return std::nullopt;
            }
            value = args[++i];
        }
        line.options[name] = value;
    }
    if (line.command.empty() && !line.Has("help")) {
        error = "no command given";
        return std::nullopt;
    }
    return line;
}

}  // namespace torvane::cli
