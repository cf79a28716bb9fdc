// The main dialog's state and handlers: the device list and the selected device, the version and
// status texts, the update gate, and the update worker (a client of the update run) with its
// notifications.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "app/torvane_view.h"
#include "discovery/device_table.h"
#include "firmware/hex_image.h"
#include "platform/clock.h"
#include "platform/device_interfaces.h"
#include "platform/hid_class.h"
#include "protocol/device_session.h"
#include "update/update_run.h"

namespace torvane {

class CTorvaneDlg {
public:
    CTorvaneDlg(TorvaneView& view, DeviceInterfaces& interfaces, HidClass& hid, Clock& clock);
    // Waits for a worker that still runs.
    ~CTorvaneDlg();
    CTorvaneDlg(const CTorvaneDlg&) = delete;
    CTorvaneDlg& operator=(const CTorvaneDlg&) = delete;

    // Handlers; they run on the user interface thread.
    bool OnInitDialog();
    void OnCbnSelchangeDevices();
    void OnBnClickedScan();
    void OnBnClickedUpdate();
    // The update gate, then the worker (at most one at a time).
    void StartUpdate(std::string path);
    void OnUpdateNotify(UpdateNotice notice);
    // False while an update worker runs: the dialog must stay until it has ended.
    bool CanClose() const { return !workerRunning_; }
    // Blocks until the worker has ended; for a caller that is not the user interface thread.
    void WaitForWorker();

    // Device discovery: the scan into the list, and the read of the selected entry.
    void ScanDevices();
    void SelectDevice();

    // The update worker: the selected entry's run, with the file in pathStatusText.
    int UpdateWorker();

    // State, all owned here.
    DeviceTable listed;
    // The selected device as its read left it: boot loader or not, identity, handle.
    DeviceSession session;
    std::int32_t deviceSupported = 0;
    ImageTable image;
    // Why the last load refused its file, for the command line and logs.
    HexLoadError loadError;
    std::atomic<bool> updateBusy{false};
    std::string pathStatusText;
    std::string versionText;
    std::uint8_t firmwareMajor = 0;
    // Whether the selected device answered the version query of its read.
    bool versionAnswered = false;

private:
    class RunObserver;

    // Rescans, selects entry 0, reads it and shows the texts.
    void ScanAndSelectFirst();
    // Shows table in the list and keeps it as the device table.
    void ShowTable(DeviceTable table);
    // Assigns a status text and shows it.
    void SetStatus(const std::string& text);
    void Notify(UpdateNotice notice) { view_.SendUpdateNotify(notice); }
    // The run from the file to the started firmware; false when it ended on a failed handle.
    bool RunUpdate(UpdateRun& run);
    void ClosingSequence();

    TorvaneView& view_;
    DeviceInterfaces& interfaces_;
    HidClass& hid_;
    Clock& clock_;
    std::atomic<bool> workerRunning_{false};
    std::thread worker_;
};

}  // namespace torvane
