// The command line of torvane-cli.
#pragma once

#include <cstddef>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace torvane::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
// A command that only reads devices, asked to stop by Ctrl-C (128 + SIGINT, as a shell has it).
inline constexpr int kExitInterrupted = 130;

struct CliOptions {
    std::string command;  // list, version, update, station, inspect or (on Linux) doctor
    std::string file;
    int device = 0;            // version: the entry read
    std::vector<int> devices;  // update: the entries updated; empty for entry 0
    bool all = false;          // update: every listed entry
    bool skipCurrent = false;  // station: no write where the version is the image's
    bool noDowngrade = false;  // station: no write where it is newer
    std::size_t count = 0;     // station: devices to end before it stops; 0: no end
    std::string results;       // station: the file each device's result is added to
    // station: the only locations it takes devices at; one ending in '*' is a prefix. Empty:
    // every location.
    std::vector<std::string> ports;
    std::optional<std::string> dashboard;  // station: [ADDRESS:]PORT of its live page
    std::optional<std::string> identity;   // inspect: 14 hex digits
    std::optional<std::string> simulate;   // DEVICES; empty for the default family
    bool virtualTime = false;
    std::string reportLog;
    std::string flashDump;
    bool json = false;
    std::string transport = "auto";  // Linux: auto, hidraw or usb
};

// Whether the command updates several devices at once, each with its own run (update with
// several devices, station).
bool ManyDevices(const CliOptions& options);
// Whether the station takes a device at location under --ports.
bool TakenPort(const CliOptions& options, const std::string& location);

// The entries update works on when it updates one device.
int SingleDevice(const CliOptions& options);

// Parses the arguments after the program name into options. Returns nullopt when the program
// should go on, or the exit status after --help (0) or a usage error (2), with the text written.
std::optional<int> ParseCliOptions(int argc, const char* const* argv, CliOptions& options,
                                   std::ostream& out, std::ostream& err);

}  // namespace torvane::cli
