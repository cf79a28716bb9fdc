#include "app/torvane_dlg.h"

#include "protocol/family.h"
#include "protocol/fixed_texts.h"

namespace torvane {

CTorvaneDlg::CTorvaneDlg(TorvaneView& view, DeviceInterfaces& interfaces, HidClass& hid,
                         Clock& clock, DeviceLocks& locks)
    : session(hid, clock, view),
      view_(view),
      interfaces_(interfaces),
      hid_(hid),
      clock_(clock),
      locks_(locks) {}

CTorvaneDlg::~CTorvaneDlg() {
    WaitForWorker();
}

void CTorvaneDlg::WaitForWorker() {
    if (worker_.joinable()) {
        worker_.join();
    }
}

void CTorvaneDlg::ScanAndSelectFirst() {
    ScanDevices();
    view_.Select(0);
    SelectDevice();
    view_.ShowTexts(pathStatusText, versionText);
}

bool CTorvaneDlg::OnInitDialog() {
    session.sessionHandle = {};
    deviceSupported = 0;
    session.bootMode = 0;
    ScanAndSelectFirst();
    return true;
}

void CTorvaneDlg::OnCbnSelchangeDevices() {
    // The list is disabled while an update runs; a change that slips through is not followed.
    if (workerRunning_) {
        return;
    }
    SelectDevice();
    view_.ShowTexts(pathStatusText, versionText);
}

void CTorvaneDlg::OnBnClickedScan() {
    // Scan is disabled while an update runs: no scan or selection may replace the device under
    // the worker. A click that slips through is not followed.
    if (workerRunning_) {
        return;
    }
    ScanAndSelectFirst();
}

void CTorvaneDlg::OnDevicesChanged() {
    if (workerRunning_) {
        return;
    }
    const int selection = view_.Selection();
    const std::string location = selection >= 0 && selection < static_cast<int>(listed.size())
                                     ? listed[static_cast<std::size_t>(selection)].location
                                     : std::string();
    ScanDevices();
    int keep = 0;
    for (std::size_t row = 0; row < listed.size() && !location.empty(); ++row) {
        if (listed[row].location == location) {
            keep = static_cast<int>(row);
            break;
        }
    }
    view_.Select(keep);
    // A device that does not open now is most likely leaving the bus (its node goes before its
    // USB device): no message box for it, which would wait for a click the user never meant to
    // give; the word of its leaving rescans.
    struct Unshown final : MessageSink {
        void ShowMessage(const std::string&, const std::string&) override {}
    } unshown;
    SelectDevice(unshown);
    view_.ShowTexts(pathStatusText, versionText);
}

void CTorvaneDlg::OnBnClickedUpdate() {
    // Update is disabled while an update runs: no file dialog may replace the path the worker
    // reads. A click that slips through is not followed.
    if (workerRunning_) {
        return;
    }
    lastOutcome.reset();
    // A device another program had at its selection is read again: it may be free by now.
    if (!selectionBusy.empty()) {
        SelectDevice();
        if (!selectionBusy.empty()) {
            Refuse(selectionBusy, "");
            return;
        }
    }
    if (deviceSupported != 0) {
        if (const std::optional<std::string> path = view_.ChooseFirmwareFile()) {
            pathStatusText = *path;
            view_.ShowTexts(pathStatusText, versionText);
        }
    }
    const std::size_t n = pathStatusText.size();
    if (n <= 3) {
        Refuse(pathStatusText, "no firmware file was chosen");
        return;
    }
    if (pathStatusText.compare(n - 3, 3, "hex") == 0) {
        StartUpdate(pathStatusText);
    } else {
        pathStatusText += texts::kNotRight;
        view_.ShowTexts(pathStatusText, versionText);
        Refuse(pathStatusText, "the firmware file's name does not end in hex");
    }
}

void CTorvaneDlg::StartUpdate(std::string /*path: the worker reads pathStatusText itself*/) {
    if (session.bootMode == 0 && firmwareMajor < family::kMinUpdatableMajor) {
        view_.ShowMessage(texts::kVersionRefused);
        Refuse(texts::kVersionRefused,
               "version " + versionText + " is older than the boot loader protocol");
        return;
    }
    if (updateBusy || workerRunning_) {
        return;
    }
    const int selection = view_.Selection();
    if (selection < 0 || selection >= static_cast<int>(listed.size())) {
        view_.ShowMessage(texts::kHandleFailed);
        Refuse(std::string(texts::kHandleFailedStatus), "no device is selected");
        return;
    }
    // Set here, before the worker exists, so that a second click finds it set.
    updateBusy = true;
    workerRunning_ = true;
    // Off before the worker exists, so that nothing reaches the device while the worker opens it.
    view_.Enable(Control::DeviceList, false);
    view_.Enable(Control::Scan, false);
    view_.Enable(Control::Update, false);
    // The previous worker has finished everything but returning.
    WaitForWorker();
    worker_ = std::thread([this] {
        UpdateWorker();
        workerRunning_ = false;
    });
}

void CTorvaneDlg::Refuse(std::string status, std::string cause) {
    UpdateOutcome refused;
    refused.result = JobResult::kRefused;
    refused.stage = JobStage::kReading;
    refused.status = std::move(status);
    refused.cause = std::move(cause);
    if (sessionReports != nullptr) {
        sessionReports->JobEnded(refused);
    }
    lastOutcome = std::move(refused);
}

void CTorvaneDlg::OnUpdateNotify(UpdateNotice notice) {
    switch (notice) {
        case UpdateNotice::kRefresh:
            view_.ShowTexts(pathStatusText, versionText);
            break;
        case UpdateNotice::kReselect:
            SelectDevice();
            break;
        case UpdateNotice::kRescan:
            ScanAndSelectFirst();
            break;
    }
}

}  // namespace torvane
