#include "cli/cli_options.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>

#include "dashboard/dashboard_server.h"
#include "protocol/report_log.h"
#include "sim/device_list_grammar.h"

namespace torvane::cli {

std::optional<int> ParseCliOptions(int argc, const char* const* argv, CliOptions& options,
                                   std::ostream& out, std::ostream& err) {
    CLI::App app("Torvane: firmware updates for the QMX-S, QMX-C and TZN device family",
                 "torvane-cli");
    app.fallthrough();
    // Options are --name only: a path such as /work/fw.hex is an argument on every system.
    app.allow_windows_style_options(false);
    app.require_subcommand(1, 1);
    app.footer(std::string("DEVICES (for --simulate):\n") + sim::DeviceListGrammar());
    app.set_version_flag("--version", "torvane-cli " TORVANE_VERSION,
                         "Print the program's version and exit");

    // Shown in the help only: --simulate is taken from the arguments below, since its DEVICES
    // are optional and a bare --simulate must not swallow the command that follows it.
    std::string simulate;
    app.add_option("--simulate", simulate,
                   "Use the simulated device family (DEVICES, see below) instead of the "
                   "system's devices; write --simulate=DEVICES");
    app.add_flag("--virtual-time", options.virtualTime, "With --simulate: waits take no real time");
    app.add_option("--report-log", options.reportLog,
                   "Write every report exchanged with a device to FILE; {n} in FILE writes one "
                   "file per device (needed when several devices are updated)");
    app.add_option("--flash-dump", options.flashDump,
                   "With --simulate: write the flash of the first simulated device to FILE after "
                   "the command; {n} in FILE writes one file per device");
    app.add_flag("--json", options.json, "Print one JSON object per event");
#if TORVANE_TRANSPORT_OPTION
    app.add_option("--transport", options.transport,
                   "How reports reach a HID interface: auto (usbfs for an interface with an "
                   "interrupt OUT endpoint, hidraw otherwise), hidraw or usb")
        ->check(CLI::IsMember({"auto", "hidraw", "usb"}));
#endif

    CLI::App* list = app.add_subcommand("list", "List the family devices");
    CLI::App* version = app.add_subcommand("version", "Show the firmware version of a device");
    version->add_option("--device", options.device, "List entry (default 0)")
        ->check(CLI::NonNegativeNumber);
    CLI::App* update = app.add_subcommand("update", "Update a device with an Intel HEX file");
    update->add_option("FILE", options.file, "The firmware file")->required();
    CLI::Option* devices =
        update->add_option("--device", options.devices, "List entries N[,N...] (default 0)")
            ->delimiter(',')
            ->check(CLI::NonNegativeNumber);
    update->add_flag("--all", options.all, "Every listed device, application or boot loader")
        ->excludes(devices);
    CLI::App* station = app.add_subcommand(
        "station", "Update every family device as it is plugged in, until Ctrl-C");
    station->add_option("FILE", options.file, "The firmware file")->required();
    station->add_flag("--skip-current", options.skipCurrent,
                      "Write no device whose version is the image's (\"already current\")");
    station->add_flag("--no-downgrade", options.noDowngrade,
                      "Write no device whose version is newer than the image's");
    station->add_option("--count", options.count, "Stop once N devices have ended")
        ->check(CLI::Range(std::size_t{1}, std::size_t{1'000'000}));
    station->add_option("--results", options.results,
                        "Add a JSON line per device to FILE as each ends");
    station
        ->add_option("--ports", options.ports,
                     "Take devices only at these locations (LOCATION[,LOCATION...]; a trailing * "
                     "matches every location it begins); leave all others untouched")
        ->delimiter(',')
        ->check([](const std::string& port) {
            const std::size_t star = port.find('*');
            return port.empty() ? std::string("--ports takes non-empty locations")
                   : star != std::string::npos && star + 1 != port.size()
                       ? "'" + port + "': a * stands only at the end of a location"
                       : std::string();
        });
    station
        ->add_option("--dashboard", options.dashboard,
                     "Serve a live page of the station at http://ADDRESS:PORT/ (ADDRESS "
                     "127.0.0.1 unless given, 0.0.0.0 for every address; PORT 0 takes a free one)")
        ->type_name("[ADDRESS:]PORT")
        ->check([](const std::string& text) {
            dashboard::ServerOptions where;
            std::string error;
            return dashboard::ParseListenAddress(text, where, error) ? std::string() : error;
        });
#if TORVANE_DOCTOR
    CLI::App* doctor = app.add_subcommand(
        "doctor", "Check the family's HID interfaces: transport, access, udev rule, kernel");
#endif
    CLI::App* inspect =
        app.add_subcommand("inspect", "Print a firmware file's records in write order");
    inspect->add_option("FILE", options.file, "The firmware file")->required();
    std::string identity;
    CLI::Option* identityOption = inspect->add_option(
        "--identity", identity, "Check the file for an application with these 7 identity bytes");
    identityOption->check([](const std::string& text) {
        return text.size() == 14 &&
                       text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos
                   ? std::string()
                   : std::string("--identity takes 14 hex digits (7 bytes)");
    });

    CLI::App* replayCheck = app.add_subcommand(
        "replay-check",
        "Say what a report log (--report-log) holds: device, versions, records, end");
    replayCheck->add_option("LOG", options.file, "The report log")->required();

    constexpr std::string_view kSimulate = "--simulate";
    std::vector<std::string> args;  // in reverse order, as the parser takes them
    for (int i = argc - 1; i >= 1; --i) {
        const std::string_view arg = argv[i];
        if (arg == kSimulate) {
            options.simulate = options.simulate.value_or("");
        } else if (arg.substr(0, kSimulate.size() + 1) == "--simulate=") {
            options.simulate = std::string(arg.substr(kSimulate.size() + 1));
        } else {
            args.emplace_back(arg);
        }
    }
    try {
        app.parse(args);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error, out, err);
        return status == 0 ? kExitOk : kExitUsage;
    }
    for (CLI::App* command : {list, version, update, station, inspect, replayCheck}) {
        if (command->parsed()) {
            options.command = command->get_name();
        }
    }
#if TORVANE_DOCTOR
    if (doctor->parsed()) {
        options.command = doctor->get_name();
    }
#endif
    if (identityOption->count() > 0) {
        options.identity = identity;
    }
    const bool simulated = options.simulate.has_value();
    if (options.command == "doctor" && simulated) {
        err << "torvane-cli: doctor checks the system's devices; it takes no --simulate\n";
        return kExitUsage;
    }
    if ((options.virtualTime || !options.flashDump.empty()) && !simulated) {
        err << "torvane-cli: --virtual-time and --flash-dump need --simulate\n";
        return kExitUsage;
    }
    for (std::size_t i = 0; i < options.devices.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (options.devices[i] == options.devices[j]) {
                err << "torvane-cli: --device names entry " << options.devices[i] << " twice\n";
                return kExitUsage;
            }
        }
    }
    if (ManyDevices(options) && !options.reportLog.empty() &&
        options.reportLog.find(kDeviceIndexField) == std::string::npos) {
        err << "torvane-cli: with several devices, --report-log needs {n} in FILE (one log per "
               "device)\n";
        return kExitUsage;
    }
    return std::nullopt;
}

bool TakenPort(const CliOptions& options, const std::string& location) {
    if (options.ports.empty()) {
        return true;
    }
    return std::any_of(options.ports.begin(), options.ports.end(), [&](const std::string& port) {
        return port.back() == '*' ? location.starts_with(port.substr(0, port.size() - 1))
                                  : location == port;
    });
}

bool ManyDevices(const CliOptions& options) {
    return options.command == "station" ||
           (options.command == "update" && (options.all || options.devices.size() > 1));
}

int SingleDevice(const CliOptions& options) {
    if (options.command == "update") {
        return options.devices.empty() ? 0 : options.devices.front();
    }
    return options.device;
}

}  // namespace torvane::cli
