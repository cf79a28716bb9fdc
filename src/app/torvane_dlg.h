// The main dialog's state and handlers: the device list and the selected device, the version and
// status texts, the update gate, and the update worker (a client of the update run) with its
// notifications.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "app/session_reports.h"
#include "app/torvane_view.h"
#include "discovery/device_reading.h"
#include "discovery/device_table.h"
#include "firmware/hex_image.h"
#include "platform/clock.h"
#include "platform/device_interfaces.h"
#include "platform/device_lock.h"
#include "platform/hid_class.h"
#include "protocol/device_session.h"
#include "update/update_job.h"

namespace torvane {

class CTorvaneDlg {
public:
    CTorvaneDlg(TorvaneView& view, DeviceInterfaces& interfaces, HidClass& hid, Clock& clock,
                DeviceLocks& locks);
    // Waits for a worker that still runs.
    ~CTorvaneDlg();
    CTorvaneDlg(const CTorvaneDlg&) = delete;
    CTorvaneDlg& operator=(const CTorvaneDlg&) = delete;

    // Handlers; they run on the user interface thread.
    bool OnInitDialog();
    void OnCbnSelchangeDevices();
    void OnBnClickedScan();
    void OnBnClickedUpdate();
    // Word that a device came or went, for a window that follows the plug: the list scanned
    // again with the selection kept on the device at the same location (else on entry 0), which
    // is read again, since another board may be at that port now. Nothing while an update runs:
    // its closing sequence scans.
    void OnDevicesChanged();
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
    // The same, with the texts of a failed open going to messages.
    void SelectDevice(MessageSink& messages);

    // The update worker: the selected entry's update job, with the file in pathStatusText.
    void UpdateWorker();

    // State, all owned here.
    DeviceTable listed;
    // The selected device as its read left it: boot loader or not, identity, handle.
    DeviceSession session;
    std::int32_t deviceSupported = 0;
    std::atomic<bool> updateBusy{false};
    std::string pathStatusText;
    std::string versionText;
    std::uint8_t firmwareMajor = 0;
    // The read of the selected device, as the update takes it.
    FirmwareReading selectionReading;
    // BusyText when another holder had the selected device's lock: it was not read, and is
    // not updated.
    std::string selectionBusy;
    // How the last update worker's job ended; set before the worker's closing notification.
    std::optional<UpdateOutcome> lastOutcome;
    // What a front end asks of the jobs the update button starts, set before the click: the
    // policy, and a stop that ends a job between two exchanges.
    UpdatePolicy jobPolicy;
    std::stop_token jobStop;
    // Told when each update begins and ends, with its outcome; nullptr for none. Set before the
    // first click.
    SessionReports* sessionReports = nullptr;

private:
    class RunObserver;

    // Rescans, selects entry 0, reads it and shows the texts.
    void ScanAndSelectFirst();
    // Shows table in the list and keeps it as the device table.
    void ShowTable(DeviceTable table);
    // Assigns a status text and shows it.
    void SetStatus(const std::string& text);
    void Notify(UpdateNotice notice) { view_.SendUpdateNotify(notice); }
    // Keeps why an update was not started as its outcome.
    void Refuse(std::string status, std::string cause);
    // What follows the job's closing scans: the list back at its first entry, the buttons back.
    void ClosingSequence();

    TorvaneView& view_;
    DeviceInterfaces& interfaces_;
    HidClass& hid_;
    Clock& clock_;
    DeviceLocks& locks_;
    std::atomic<bool> workerRunning_{false};
    std::thread worker_;
};

}  // namespace torvane
