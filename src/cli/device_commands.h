// torvane-cli list, version and update: the dialog's handlers driven from the command line.
#pragma once

#include <string>

#include "app/torvane_dlg.h"
#include "cli/terminal_view.h"
#include "system/device_system.h"

namespace torvane::cli {

// A location path as list and doctor show it.
inline std::string LocationText(const std::string& location) {
    return location.empty() ? "location unknown" : location;
}

// Each takes a dialog that has run OnInitDialog and returns the exit status. list reads the
// listed devices at once, each on its own thread, on system's seams; a device whose lock another
// holder has is shown busy, and refused by version and update.
int RunList(CTorvaneDlg& dialog, TerminalView& view, DeviceSystem& system);
int RunVersion(CTorvaneDlg& dialog, TerminalView& view, int device);
int RunUpdate(CTorvaneDlg& dialog, TerminalView& view, const std::string& file, int device);

}  // namespace torvane::cli
