// The update worker on its thread: the selected entry's update job, with the file the status
// line names, then back to idle.
#include "app/torvane_dlg.h"
#include "protocol/fixed_texts.h"

namespace torvane {

// The job's texts become the dialog's: the status line, the list of each scan and the boot
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
    void OnClosing() override { dialog_.updateBusy = false; }
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

void CTorvaneDlg::UpdateWorker() {
    // updateBusy was set by StartUpdate before this thread began.
    Notify(UpdateNotice::kRefresh);
    lastOutcome.reset();
    RunObserver observer(*this);
    const int selection = view_.Selection();
    if (selection >= 0 && selection < static_cast<int>(listed.size())) {
        // Every job opens the selected entry afresh; a handle from an earlier read may be gone.
        // The device was read when it was selected: the job takes that read.
        if (sessionReports != nullptr) {
            sessionReports->JobStarting();
        }
        UpdateJob job(listed[static_cast<std::size_t>(selection)], pathStatusText, jobPolicy,
                      {interfaces_, hid_, clock_, locks_}, observer, view_.MainWindow());
        job.StopWhen(jobStop);
        job.UsePriorReading({selectionReading, session.deviceIdentity});
        lastOutcome = job.Run();
        if (sessionReports != nullptr) {
            sessionReports->JobEnded(*lastOutcome);
        }
    } else {
        view_.ShowMessage(texts::kHandleFailed);
    }
    ClosingSequence();
    if (sessionReports != nullptr) {
        sessionReports->JobClosed();
    }
}

void CTorvaneDlg::ClosingSequence() {
    updateBusy = false;
    view_.Select(0);
    view_.Enable(Control::DeviceList, true);
    view_.Enable(Control::Scan, true);
    view_.Focus(Control::Scan);
    view_.Enable(Control::Update, true);
    view_.Focus(Control::Update);
    Notify(UpdateNotice::kRescan);
}

}  // namespace torvane
