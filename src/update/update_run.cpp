#include "update/update_run.h"

#include "discovery/device_reading.h"
#include "discovery/device_scan.h"
#include "protocol/family.h"
#include "protocol/write_order.h"
#include "update/status_text.h"

namespace torvane {

UpdateRun::UpdateRun(ListedDevice entry, std::int32_t bootMode, bool versionAnswered,
                     UpdateSeams seams, UpdateObserver& observer, WindowHandle window)
    : entry_(std::move(entry)),
      versionAnswered_(versionAnswered),
      seams_(seams),
      observer_(observer),
      window_(window),
      session_(seams.hid, seams.clock, observer) {
    session_.bootMode = bootMode;
}

void UpdateRun::SetStatus(const std::string& text, int progressPercent) {
    status_ = text;
    observer_.OnStatus(text, progressPercent);
}

double UpdateRun::SecondsSince(std::uint32_t start) {
    return ElapsedMs(start, seams_.clock.TickCount()) / 1000.0;
}

bool UpdateRun::Open() {
    device_ = OpenListedDevice(entry_, seams_.interfaces, seams_.hid, observer_, window_, session_);
    if (!device_) {
        observer_.ShowMessage("QM Device create handle failed!\n");
        return false;
    }
    location_ = device_->LocationPath();
    return true;
}

int UpdateRun::FindBootLoader(DeviceTable& table) {
    // The device comes back as its boot loader at the same USB port. A device without a
    // location path cannot be told from another, so it is never taken for the one updated.
    for (int attempt = 0; attempt < family::kBootLoaderSearchAttempts; ++attempt) {
        table = ScanDevices(seams_.interfaces, seams_.hid, observer_);
        observer_.OnScan(table);
        int found = -1;
        for (std::size_t i = 0; i < table.size() && !location_.empty(); ++i) {
            if (table[i].location == location_) {
                found = static_cast<int>(i);
                break;
            }
        }
        seams_.clock.Sleep(family::kScanIntervalMs);
        if (found >= 0) {
            return found;
        }
    }
    return -1;
}

RunResult UpdateRun::Update(const ImageTable& image, std::uint32_t start) {
    // After the switch the boot loader is found by its port alone: without one, nothing is sent.
    if (session_.bootMode == 0 && location_.empty()) {
        SetStatus(kLocationUnknown);
        return RunResult::kFailed;
    }
    // A boot loader that answered none of its version queries may not be one: it is not erased.
    if (session_.bootMode != 0 && !versionAnswered_) {
        SetStatus(kBootLoaderSilent);
        return RunResult::kFailed;
    }
    if (session_.bootMode == 0) {
        session_.EnterDownloadMode();
        DeviceTable table;
        const int found = FindBootLoader(table);
        if (found < 0) {
            SetStatus("Bootloader not found!");
            return RunResult::kFailed;
        }
        observer_.OnFound(found);
        device_.reset();
        session_.sessionHandle = {};
        device_ = OpenListedDevice(table[static_cast<std::size_t>(found)], seams_.interfaces,
                                   seams_.hid, observer_, window_, session_);
        if (!device_) {
            observer_.ShowMessage("QM Device create handle failed!\n");
            return RunResult::kHandleFailed;
        }
    }

    if (!session_.EraseFirmware()) {
        SetStatus("Erase failed!");
        return RunResult::kFailed;
    }
    if (!WriteImage(image)) {
        SetStatus("Write FW error!");
        return RunResult::kFailed;
    }
    char text[kStatusBufferSize];
    FormatStatus(text, "FW update successfully, cost time %.1f second", SecondsSince(start));
    SetStatus(text);
    session_.RunFirmware();
    seams_.clock.Sleep(family::kRunWaitMs);
    return RunResult::kSucceeded;
}

bool UpdateRun::WriteImage(const ImageTable& image) {
    char text[kStatusBufferSize];
    for (const WriteStep& step : PlanWrites(image)) {
        if (!session_.WriteRecord(image.imageRecords[static_cast<std::size_t>(step.record)])) {
            return false;
        }
        if (step.progressPercent >= 0) {
            FormatStatus(text, "Erase successfully, downloading %d%%...", step.progressPercent);
            SetStatus(text, step.progressPercent);
        }
    }
    return true;
}

}  // namespace torvane
