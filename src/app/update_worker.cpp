// The update worker on its thread: the selected entry's update run, with the file the status
// line names, then back to idle.
#include "app/torvane_dlg.h"
#include "firmware/hex_image.h"
#include "protocol/family.h"
#include "update/status_text.h"
#include "usb/text_error.h"

namespace torvane {

// The run's texts become the dialog's: the status line, the list of each scan and the boot
// loader's entry selected, message boxes.
class CTorvaneDlg::RunObserver final : public UpdateObserver {
public:
    explicit RunObserver(CTorvaneDlg& dialog) : dialog_(dialog) {}

    void OnStatus(const std::string& text, int) override { dialog_.SetStatus(text); }
    void OnScan(const DeviceTable& table) override {
        dialog_.view_.ResetDevices();
        dialog_.ShowTable(table);
    }
    void OnFound(int row) override {
        dialog_.view_.Select(row);
        dialog_.Notify(UpdateNotice::kRefresh);
    }
    void ShowMessage(const std::string& text, const std::string& caption) override {
        dialog_.view_.ShowMessage(text, caption);
    }

private:
    CTorvaneDlg& dialog_;
};

void CTorvaneDlg::SetStatus(const std::string& text) {
    pathStatusText = text;
    Notify(UpdateNotice::kRefresh);
}

int CTorvaneDlg::UpdateWorker() {
    // updateBusy was set by StartUpdate before this thread began.
    Notify(UpdateNotice::kRefresh);
    bool opened = false;
    try {
        RunObserver observer(*this);
        const int selection = view_.Selection();
        if (selection >= 0 && selection < static_cast<int>(listed.size())) {
            UpdateRun run(listed[static_cast<std::size_t>(selection)], session.bootMode,
                          versionAnswered, {interfaces_, hid_, clock_}, observer,
                          view_.MainWindow());
            opened = RunUpdate(run);
        } else {
            view_.ShowMessage("QM Device create handle failed!\n");
        }
    } catch (const TextError& error) {
        view_.ShowMessage(error.text());
    }
    ClosingSequence();
    return opened ? 0 : -1;
}

bool CTorvaneDlg::RunUpdate(UpdateRun& run) {
    // Every run opens the selected entry afresh; a handle from an earlier read may be gone.
    if (!run.Open()) {
        return false;
    }
    const ImageFile file = OpenImageFile(pathStatusText);
    if (!file) {
        SetStatus("FW File Load error!");
        return true;
    }
    const std::uint32_t start = clock_.TickCount();
    const LoadRules rules{session.bootMode, session.deviceIdentity};
    if (!LoadHexImage(file.get(), rules, image, &loadError)) {
        SetStatus("File Parse error!");
        return true;
    }
    SetStatus(ParsedStatus(start, clock_.TickCount()));
    return run.Update(image, start) != RunResult::kHandleFailed;
}

void CTorvaneDlg::ClosingSequence() {
    updateBusy = false;
    for (int scan = 0; scan < family::kClosingScans; ++scan) {
        try {
            ScanDevices();
        } catch (const TextError& error) {
            view_.ShowMessage(error.text());
        }
        clock_.Sleep(family::kScanIntervalMs);
    }
    view_.Select(0);
    view_.Enable(Control::DeviceList, true);
    view_.Enable(Control::Scan, true);
    view_.Focus(Control::Scan);
    view_.Enable(Control::Update, true);
    view_.Focus(Control::Update);
    Notify(UpdateNotice::kRescan);
}

}  // namespace torvane
