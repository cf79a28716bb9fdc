#include "cli/cli_main.h"

#include <nlohmann/json.hpp>

#include "app/torvane_dlg.h"
#include "cli/cli_options.h"
#include "cli/device_commands.h"
#include "cli/device_update.h"
#include "cli/doctor_command.h"
#include "cli/inspect_command.h"
#include "cli/json_text.h"
#include "cli/replay_check_command.h"
#include "cli/station.h"
#include "cli/stop_control.h"
#include "cli/terminal_view.h"
#include "cli/update_many.h"
#include "dashboard/dashboard_server.h"
#include "platform/device_access.h"
#include "system/device_system.h"

namespace torvane::cli {
namespace {

// The station, with its live page when --dashboard asks for it: the page listens before the
// station touches any board, and is closed after the station ended, its last state sent.
int RunStationCommand(DeviceSystem& system, const CliOptions& options, std::ostream& out,
                      std::ostream& err, bool terminal) {
    if (!options.dashboard) {
        return RunStation(system, options, out, err, terminal);
    }
    dashboard::ServerOptions where;
    where.resultsPath = options.results;
    std::string error;
    dashboard::ParseListenAddress(*options.dashboard, where, error);  // the parser checked it
    dashboard::DashboardServer page(system.clock(), where);
    if (!page.Start(error)) {
        err << "torvane-cli: --dashboard: " << error << '\n';
        return kExitFailed;
    }
    err << "torvane-cli: the station's live page: " << page.Url() << '\n';
    err.flush();
    const int status = RunStation(system, options, out, err, terminal, &page);
    page.Close();
    return status;
}

}  // namespace

int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool terminal) {
    CliOptions options;
    if (const auto status = ParseCliOptions(argc, argv, options, out, err)) {
        return *status;
    }
    SetTransportPreference(options.transport == "usb"      ? TransportPreference::kUsb
                           : options.transport == "hidraw" ? TransportPreference::kHidraw
                                                           : TransportPreference::kAuto);
    if (options.command == "inspect") {
        return RunInspect(options.file, options.identity, out, err);
    }
    if (options.command == "replay-check") {
        return RunReplayCheck(options.file, out, err, options.json);
    }
    if (options.command == "doctor") {
        return RunDoctor(out, options.json);
    }
    std::string error;
    const std::unique_ptr<DeviceSystem> system =
        DeviceSystem::Create(options.simulate, options.virtualTime, error);
    // Several devices at once: each run writes a log of its own.
    if (!system ||
        (!options.reportLog.empty() && !ManyDevices(options) &&
         !system->LogReportsTo(DevicePath(options.reportLog, SingleDevice(options)), error))) {
        err << "torvane-cli: " << error << '\n';
        return kExitFailed;
    }
    for (const std::string& note : system->notes()) {
        err << "torvane-cli: " << note << '\n';
    }
    int status = kExitOk;
    if (ManyDevices(options)) {
        if (options.command == "station") {
            status = RunStationCommand(*system, options, out, err, terminal);
        } else {
            const UpdateStops stops(err);
            status = RunUpdateMany(*system, options, stops.now(), out, err, terminal);
        }
    } else {
        TerminalView view(out, err, terminal, options.json, system->clock());
        CTorvaneDlg dialog(view, system->interfaces(), system->hid(), system->clock(),
                           system->locks());
        view.Attach(dialog);
        dialog.OnInitDialog();
        std::optional<ReadStops> readStops;
        std::optional<UpdateStops> updateStops;
        // An update that does not pass leaves its cause in the report log.
        SessionReports reports(system->log(), nullptr);
        if (options.command == "update") {
            dialog.sessionReports = &reports;
            updateStops.emplace(err);
            dialog.jobPolicy.returnWindowMs = kReturnWindowMs;
            dialog.jobStop = updateStops->now();
        } else {
            readStops.emplace(err);
        }
        if (options.command == "list") {
            status = RunList(dialog, view, *system);
            if (!options.simulate) {
                if (const std::optional<std::string> hint = DoctorHint()) {
                    view.Emit("hint: " + *hint,
                              JsonText(nlohmann::json{{"event", "hint"}, {"text", *hint}}));
                }
            }
        } else if (options.command == "version") {
            status = RunVersion(dialog, view, options.device);
        } else {
            status = RunUpdate(dialog, view, options.file, SingleDevice(options));
        }
        if (readStops && readStops->requested()) {
            status = kExitInterrupted;
        }
    }
    TellIncompleteLog(system->log(), DevicePath(options.reportLog, SingleDevice(options)), err);
    // A replay that stopped, or that the program left before its end, fails the command,
    // whatever the command made of it.
    if (system->family()) {
        for (const std::string& problem : system->family()->ReplayProblems()) {
            err << "torvane-cli: " << problem << '\n';
            status = kExitFailed;
        }
    }
    if (!options.flashDump.empty() && !system->family()->DumpFlash(options.flashDump, error)) {
        err << "torvane-cli: " << error << '\n';
        return kExitFailed;
    }
    return status;
}

}  // namespace torvane::cli
