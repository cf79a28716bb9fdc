#include "cli/device_commands.h"

#include <nlohmann/json.hpp>

#include "cli/cli_options.h"
#include "cli/json_text.h"

namespace torvane::cli {
namespace {

// Reads list entry n as a selection change would; false when there is no such entry.
bool ReadEntry(CTorvaneDlg& dialog, TerminalView& view, int n) {
    if (n < 0 || n >= view.DeviceCount()) {
        return false;
    }
    view.Select(n);
    dialog.OnCbnSelchangeDevices();
    return true;
}

// The selected entry's version as list and version show it: "no answer" (null in JSON) for a
// device that did not answer its version query.
std::string ShownVersion(const CTorvaneDlg& dialog) {
    return dialog.selectionReading.version ? dialog.versionText : "no answer";
}

nlohmann::json JsonShownVersion(const CTorvaneDlg& dialog) {
    return dialog.selectionReading.version ? nlohmann::json(dialog.versionText) : nlohmann::json();
}

bool NoSuchEntry(TerminalView& view, int device) {
    view.ShowMessage("torvane-cli: no device " + std::to_string(device) + " (" +
                     std::to_string(view.DeviceCount()) + " listed)");
    return false;
}

}  // namespace

int RunList(CTorvaneDlg& dialog, TerminalView& view) {
    for (int i = 0; i < view.DeviceCount(); ++i) {
        ReadEntry(dialog, view, i);
        const std::string& location = dialog.listed[static_cast<std::size_t>(i)].location;
        const std::string text = view.DeviceText(i);
        view.Emit(std::to_string(i) + "  " + text + "  " + LocationText(location) + "  " +
                      ShownVersion(dialog),
                  JsonText(nlohmann::json{{"event", "device"},
                                          {"index", i},
                                          {"text", text},
                                          {"location", location},
                                          {"version", JsonShownVersion(dialog)}}));
    }
    if (view.DeviceCount() == 0) {
        view.Remark("torvane-cli: no family device found");
    }
    return kExitOk;
}

int RunVersion(CTorvaneDlg& dialog, TerminalView& view, int device) {
    if (!ReadEntry(dialog, view, device)) {
        NoSuchEntry(view, device);
        return kExitFailed;
    }
    view.Emit(
        ShownVersion(dialog),
        JsonText(nlohmann::json{
            {"event", "version"}, {"device", device}, {"version", JsonShownVersion(dialog)}}));
    return kExitOk;
}

int RunUpdate(CTorvaneDlg& dialog, TerminalView& view, const std::string& file, int device) {
    if (!ReadEntry(dialog, view, device)) {
        NoSuchEntry(view, device);
        return kExitFailed;
    }
    view.SetFirmwareFile(file);
    dialog.OnBnClickedUpdate();
    dialog.WaitForWorker();
    // The dialog keeps an outcome for every click: a job's, or why none was started.
    const UpdateOutcome outcome = dialog.lastOutcome.value_or(UpdateOutcome{});
    const bool ok = outcome.Passed();
    const std::string version = outcome.after ? outcome.after->Text() : "-";
    std::string text;
    if (!ok) {
        // A device that was written but did not come back verified ended on a success text.
        text = "update failed: " +
               (outcome.stage == JobStage::kVerifying ? "the image was written, but not verified"
                                                      : outcome.status) +
               "\n" + (outcome.cause.empty() ? "" : outcome.cause + "\n");
    }
    view.Emit(text + "version: " + version,
              JsonText(nlohmann::json{{"event", "result"},
                                      {"ok", ok},
                                      {"result", ResultText(outcome.result)},
                                      {"stage", StageText(outcome.stage)},
                                      {"status", outcome.status},
                                      {"cause", outcome.cause},
                                      {"version", JsonVersion(outcome.after)}}));
    return ok ? kExitOk : kExitFailed;
}

}  // namespace torvane::cli
