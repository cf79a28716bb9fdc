// The command line of torvane-cli.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace torvane::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

struct CliOptions {
    std::string command;  // list, version, update, inspect or (on Linux) doctor
    std::string file;
    int device = 0;                       // version: the entry read
    std::vector<int> devices;             // update: the entries updated; empty for entry 0
    bool all = false;                     // update: every listed entry
    std::optional<std::string> identity;  // inspect: 14 hex digits
    std::optional<std::string> simulate;  // DEVICES; empty for the default family
    bool virtualTime = false;
    std::string reportLog;
    std::string flashDump;
    bool json = false;
    std::string transport = "auto";  // Linux: auto, hidraw or usb
};

// Whether the command updates several devices at once, each with its own run.
bool ManyDevices(const CliOptions& options);
// The entries update works on when it updates one device.
int SingleDevice(const CliOptions& options);

// Parses the arguments after the program name into options. Returns nullopt when the program
// should go on, or the exit status after --help (0) or a usage error (2), with the text written.
std::optional<int> ParseCliOptions(int argc, const char* const* argv, CliOptions& options,
                                   std::ostream& out, std::ostream& err);

}  // namespace torvane::cli
