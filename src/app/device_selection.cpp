// The dialog's device list and the read of its selected entry: supported or not, boot loader or
// application, and its version.
#include "app/torvane_dlg.h"
#include "discovery/device_reading.h"
#include "discovery/device_scan.h"
#include "protocol/family.h"
#include "protocol/fixed_texts.h"

namespace torvane {

void CTorvaneDlg::ShowTable(DeviceTable table) {
    for (const ListedDevice& row : table) {
        view_.AddDevice(row.text);
    }
    listed = std::move(table);
}

void CTorvaneDlg::ScanDevices() {
    view_.ResetDevices();
    ShowTable(torvane::ScanDevices(interfaces_, hid_, view_));
}

void CTorvaneDlg::SelectDevice() {
    SelectDevice(view_);
}

void CTorvaneDlg::SelectDevice(MessageSink& messages) {
    if (view_.DeviceCount() <= 0) {
        view_.ShowTexts(pathStatusText, versionText);
        return;
    }
    const int selection = view_.Selection();
    const bool listedEntry = selection >= 0 && selection < static_cast<int>(listed.size());
    // No selection reads as an empty entry, and so as unsupported.
    const std::string text = listedEntry ? view_.DeviceText(selection) : std::string();
    // Supported: the list text of one of the family's models or of its boot loader.
    deviceSupported = family::FindModelByListText(text) != nullptr ? 1 : 0;
    session.bootMode = 0;
    selectionReading = {};
    selectionBusy.clear();
    if (deviceSupported == 0) {
        view_.ShowTexts(pathStatusText, versionText);
        return;
    }
    const ListedDevice& entry = listed[static_cast<std::size_t>(selection)];
    // Never waits: this is the user interface thread.
    const DeviceHold hold = HoldDevice(entry, locks_);
    if (!hold.busy.empty()) {
        selectionBusy = versionText = hold.busy;
        view_.ShowTexts(pathStatusText, versionText);
        return;
    }
    std::unique_ptr<CUsbDevice> device =
        OpenListedDevice(entry, interfaces_, hid_, messages, view_.MainWindow(), session);
    if (!device) {
        messages.ShowMessage(texts::kHandleFailed);
        return;
    }
    const FirmwareReading reading = ReadFirmwareVersion(session);
    versionText = reading.versionText;
    selectionReading = reading;
    if (reading.major) {
        firmwareMajor = *reading.major;
    }
    device.reset();
    view_.ShowTexts(pathStatusText, versionText);
}

}  // namespace torvane
