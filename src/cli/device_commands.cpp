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
                      dialog.versionText,
                  JsonText(nlohmann::json{{"event", "device"},
                                          {"index", i},
                                          {"text", text},
                                          {"location", location},
                                          {"version", dialog.versionText}}));
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
    view.Emit(dialog.versionText,
              JsonText(nlohmann::json{
                  {"event", "version"}, {"device", device}, {"version", dialog.versionText}}));
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
    if (dialog.pathStatusText == "File Parse error!") {
        view.ShowMessage(file + ": " + dialog.loadError.Describe());
    }
    const bool ok = dialog.pathStatusText.rfind("FW update successfully", 0) == 0;
    const std::string status = dialog.pathStatusText;
    // The rescan at the end of the run read entry 0; the entry updated is read again.
    std::string version;
    if (ReadEntry(dialog, view, device)) {
        version = dialog.versionText;
    }
    view.Emit((ok ? "" : "update failed: " + status + "\n") + "version: " + version,
              JsonText(nlohmann::json{
                  {"event", "result"}, {"ok", ok}, {"status", status}, {"version", version}}));
    return ok ? kExitOk : kExitFailed;
}

}  // namespace torvane::cli
