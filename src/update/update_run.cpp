#include "update/update_run.h"

#include <cstdio>

#include "discovery/device_scan.h"
#include "protocol/family.h"
#include "protocol/fixed_texts.h"
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

RunResult UpdateRun::Fail(RunResult result, const char* status, std::string cause) {
    SetStatus(status);
    cause_ = std::move(cause);
    return result;
}

bool UpdateRun::Open() {
    device_ = OpenListedDevice(entry_, seams_.interfaces, seams_.hid, observer_, window_, session_,
                               &cause_);
    if (!device_) {
        observer_.ShowMessage(texts::kHandleFailed);
        return false;
    }
    location_ = device_->LocationPath();
    return true;
}

void UpdateRun::Close() {
    device_.reset();
    session_.sessionHandle = {};
}

FirmwareReading UpdateRun::Read() {
    stage_ = JobStage::kReading;
    FirmwareReading reading = ReadFirmwareVersion(session_);
    versionAnswered_ = reading.version.has_value();
    return reading;
}

std::string UpdateRun::LeftInBootLoader(const char* state) const {
    return std::string(state) + ", the device is left in its boot loader" +
           (location_.empty() ? "" : " at " + location_) +
           "; an update from the boot loader finishes it";
}

int UpdateRun::FindBootLoader(DeviceTable& table) {
    // The device comes back as its boot loader at the same USB port: only a boot loader, since
    // an application slow to leave is still there at first. A device without a location path
    // cannot be told from another, so it is never taken for the one updated.
    for (int attempt = 0; attempt < family::kBootLoaderSearchAttempts; ++attempt) {
        if (Stopped([&] {
                return "its boot loader came back: nothing was written; the device may be in its "
                       "boot loader at " +
                       location_;
            })) {
            return -2;
        }
        table = ScanDevices(seams_.interfaces, seams_.hid, observer_);
        observer_.OnScan(table);
        int found = -1;
        for (std::size_t i = 0; i < table.size() && !location_.empty(); ++i) {
            const family::Model* model = family::FindModelByListText(table[i].text);
            if (table[i].location == location_ && model != nullptr &&
                model->productId == family::kBootLoaderProductId) {
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
    stage_ = JobStage::kSwitching;
    if (session_.bootMode == 0 && location_.empty()) {
        return Fail(RunResult::kRefused, texts::kLocationUnknown,
                    "the device has no location path: after the switch to its boot loader it "
                    "could not be found again");
    }
    // A boot loader that answered none of its version queries may not be one: it is not erased.
    if (session_.bootMode != 0 && !versionAnswered_) {
        return Fail(RunResult::kRefused, texts::kBootLoaderSilent,
                    "the boot loader answered none of its version queries");
    }
    if (session_.bootMode == 0) {
        if (Stopped(
                [] { return std::string("the switch to the boot loader: nothing was written"); })) {
            return RunResult::kStopped;
        }
        session_.EnterDownloadMode();
        DeviceTable table;
        const int found = FindBootLoader(table);
        if (found == -2) {
            return RunResult::kStopped;
        }
        if (found < 0) {
            return Fail(RunResult::kFailed, texts::kBootLoaderNotFound,
                        "no boot loader at " + location_ + " within " +
                            std::to_string(family::kBootLoaderSearchAttempts) + " scans");
        }
        observer_.OnFound(found);
        device_.reset();
        session_.sessionHandle = {};
        device_ = OpenListedDevice(table[static_cast<std::size_t>(found)], seams_.interfaces,
                                   seams_.hid, observer_, window_, session_, &cause_);
        if (!device_) {
            observer_.ShowMessage(texts::kHandleFailed);
            return RunResult::kHandleFailed;
        }
    }

    stage_ = JobStage::kErasing;
    if (Stopped([&] { return "the erase: " + LeftInBootLoader("nothing was written"); })) {
        return RunResult::kStopped;
    }
    if (!session_.EraseFirmware()) {
        return Fail(RunResult::kFailed, texts::kEraseFailed, session_.failure());
    }
    stage_ = JobStage::kWriting;
    if (!WriteImage(image)) {
        return stopped_ ? RunResult::kStopped
                        : Fail(RunResult::kFailed, texts::kWriteError, cause_);
    }
    stage_ = JobStage::kStarting;
    if (Stopped([&] { return "the run command: " + LeftInBootLoader("the image is written"); })) {
        return RunResult::kStopped;
    }
    char text[kStatusBufferSize];
    FormatStatus(text, texts::kUpdatedFormat, SecondsSince(start));
    SetStatus(text);
    const bool started = session_.RunFirmware();
    seams_.clock.Sleep(family::kRunWaitMs);
    if (!started) {
        cause_ = "the run command did not reach the boot loader: " + session_.failure();
        return RunResult::kFailed;
    }
    return RunResult::kSucceeded;
}

bool UpdateRun::WriteImage(const ImageTable& image) {
    char text[kStatusBufferSize];
    for (const WriteStep& step : PlanWrites(image)) {
        const ImageRecord& record = image.imageRecords[static_cast<std::size_t>(step.record)];
        if (Stopped([&] {
                return "record " + std::to_string(step.record) + ": " +
                       LeftInBootLoader("half-written");
            })) {
            return false;
        }
        if (!session_.WriteRecord(record)) {
            char where[40];
            std::snprintf(where, sizeof where, "record %d (0x%04X): ", step.record,
                          static_cast<unsigned>(record.Address()));
            cause_ = where + session_.failure();
            return false;
        }
        if (step.progressPercent >= 0) {
            FormatStatus(text, texts::kProgressFormat, step.progressPercent);
            SetStatus(text, step.progressPercent);
        }
    }
    return true;
}

}  // namespace torvane
