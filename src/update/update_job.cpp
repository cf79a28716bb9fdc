#include "update/update_job.h"

#include <cerrno>
#include <cstring>

#include "discovery/device_scan.h"
#include "protocol/family.h"
#include "protocol/fixed_texts.h"
#include "update/status_text.h"

namespace torvane {

UpdateJob::UpdateJob(ListedDevice entry, std::string file, UpdatePolicy policy, UpdateSeams seams,
                     UpdateObserver& observer, WindowHandle window)
    : entry_(std::move(entry)),
      file_(std::move(file)),
      policy_(policy),
      seams_(seams),
      observer_(observer),
      window_(window) {}

UpdateOutcome UpdateJob::Unchanged(const FirmwareReading& reading) const {
    UpdateOutcome outcome;
    outcome.location = entry_.location;
    outcome.bootLoader = reading.bootLoader;
    outcome.before = outcome.after = reading.bootLoader ? std::nullopt : reading.version;
    return outcome;
}

std::optional<UpdateOutcome> UpdateJob::Gate(const FirmwareReading& reading) {
    if (!reading.major || *reading.major >= family::kMinUpdatableMajor) {
        return std::nullopt;
    }
    UpdateOutcome outcome = Unchanged(reading);
    outcome.result = JobResult::kRefused;
    outcome.stage = JobStage::kReading;
    outcome.status = texts::kVersionRefused;
    outcome.cause = reading.version ? "its version " + reading.version->Text() +
                                          " is older than the boot loader protocol"
                                    : "it did not answer its version query";
    observer_.ShowMessage(texts::kVersionRefused);
    return outcome;
}

std::optional<UpdateOutcome> UpdateJob::Skip(
    const FirmwareReading& reading, const std::optional<FirmwareVersion>& imageVersion) const {
    if (reading.bootLoader || !imageVersion || !reading.version) {
        return std::nullopt;
    }
    const bool current = policy_.skipCurrent && *reading.version == *imageVersion;
    if (!current && !(policy_.noDowngrade && *reading.version > *imageVersion)) {
        return std::nullopt;
    }
    UpdateOutcome outcome = Unchanged(reading);
    outcome.result = JobResult::kSkipped;
    outcome.stage = JobStage::kLoading;
    outcome.status = current ? "already current" : "newer than the image";
    return outcome;
}

UpdateOutcome UpdateJob::Run() {
    UpdateOutcome outcome;
    outcome.location = entry_.location;
    // Held from the first open to the read-back: the boot loader and the device back in its
    // application are at the same port.
    std::unique_ptr<DeviceLock> lock = std::move(lock_);
    if (!lock) {
        DeviceHold hold = HoldDevice(entry_, seams_.locks);
        if (!hold.busy.empty()) {
            outcome.result = JobResult::kRefused;
            outcome.status = hold.busy;
            observer_.OnStatus(outcome.status, -1);
            return outcome;
        }
        lock = std::move(hold.lock);
    }
    UpdateRun run(entry_, prior_ && prior_->reading.bootLoader ? 1 : 0,
                  prior_ && prior_->reading.version, seams_, observer_, window_);
    run.StopWhen(stop_);
    if (!run.Open()) {
        outcome.status = texts::kHandleFailedStatus;
        outcome.cause = run.cause();
        Verify(outcome, false, false, std::nullopt);
        return outcome;
    }
    const FirmwareReading reading = prior_ ? prior_->reading : run.Read();
    const Identity identity = prior_ ? prior_->identity : run.identity();
    outcome.bootLoader = reading.bootLoader;
    outcome.before = reading.bootLoader ? std::nullopt : reading.version;
    // The dialog gated its selection before it started the job.
    if (std::optional<UpdateOutcome> refused = Gate(reading)) {
        return *refused;
    }

    outcome.stage = JobStage::kLoading;
    // A refused file: nothing was sent, and the run ends as every opened run does.
    const auto refuseFile = [&](const char* status, std::string cause) {
        outcome.result = JobResult::kRefused;
        outcome.status = status;
        outcome.cause = file_ + ": " + std::move(cause);
        observer_.OnStatus(outcome.status, -1);
        run.Close();
        Verify(outcome, false, false, std::nullopt);
        return outcome;
    };
    const ImageFile file = OpenImageFile(file_);
    if (!file) {
        return refuseFile(texts::kFileLoadError, std::strerror(errno));
    }
    const std::uint32_t start = seams_.clock.TickCount();
    ImageTable image;
    HexLoadError error;
    if (!LoadHexImage(file.get(), LoadRules{reading.bootLoader ? 1 : 0, identity}, image, &error)) {
        return refuseFile(texts::kFileParseError, error.Describe());
    }
    observer_.OnStatus(ParsedStatus(start, seams_.clock.TickCount()), -1);
    const std::optional<FirmwareVersion> imageVersion = ImageVersion(image);
    if (std::optional<UpdateOutcome> skipped = Skip(reading, imageVersion)) {
        return *skipped;
    }

    const RunResult result = run.Update(image, start);
    outcome.stage = run.stage();
    outcome.status = result == RunResult::kHandleFailed ? std::string(texts::kHandleFailedStatus)
                     : result == RunResult::kStopped    ? std::string("stopped")
                                                        : run.status();
    outcome.cause = run.cause();
    outcome.result = result == RunResult::kRefused ? JobResult::kRefused : JobResult::kFailed;
    run.Close();
    // Stopped now: no closing scans, and what is at the port is for the next program to see.
    if (result == RunResult::kStopped) {
        outcome.stayed = false;
        return outcome;
    }
    Verify(outcome, result == RunResult::kSucceeded,
           result == RunResult::kFailed && run.deviceLeft(), imageVersion);
    return outcome;
}

const ListedDevice* UpdateJob::AtPort(const DeviceTable& table) const {
    // The device is known by its port; one without a location path by its place in the
    // enumeration, which only a device updated alone keeps.
    for (const ListedDevice& row : table) {
        if (row.location == entry_.location &&
            (!entry_.location.empty() || row.index == entry_.index)) {
            return &row;
        }
    }
    return nullptr;
}

void UpdateJob::Verify(UpdateOutcome& outcome, bool written, bool left,
                       const std::optional<FirmwareVersion>& want) {
    observer_.OnClosing();
    const std::uint32_t began = seams_.clock.TickCount();
    DeviceTable table;
    // A written device leaves for its restart and comes back; any other absence after the run
    // began, or after it came back, is a departure.
    bool back = false;
    for (int scan = 0;; ++scan) {
        const bool closing = scan < family::kClosingScans;
        if (!closing && (back || !written ||
                         ElapsedMs(began, seams_.clock.TickCount()) >= policy_.returnWindowMs ||
                         stop_.stop_requested())) {
            break;
        }
        table = ScanDevices(seams_.interfaces, seams_.hid, observer_);
        if (closing) {
            observer_.OnScan(table);
        }
        const bool here = AtPort(table) != nullptr;
        left = left || (!here && (back || !written));
        back = here;
        seams_.clock.Sleep(family::kScanIntervalMs);
    }
    const ListedDevice* row = left ? nullptr : AtPort(table);
    outcome.stayed = row != nullptr;
    FirmwareReading reading;
    bool answered = false;
    if (row != nullptr) {
        DeviceSession session(seams_.hid, seams_.clock, observer_);
        if (const std::unique_ptr<CUsbDevice> device = OpenListedDevice(
                *row, seams_.interfaces, seams_.hid, observer_, window_, session)) {
            reading = ReadFirmwareVersion(session);
            answered = true;
        }
    }
    if (answered) {
        outcome.after = reading.bootLoader ? std::nullopt : reading.version;
    }
    if (!written) {
        return;
    }
    outcome.stage = JobStage::kVerifying;
    const std::string where = entry_.location.empty() ? "" : " at " + entry_.location;
    if (left) {
        outcome.cause = "it left its port" + where + " after it came back, before it was verified";
    } else if (!answered || reading.bootLoader) {
        outcome.cause = "the device did not come back in its application" + where +
                        (answered ? " (its boot loader is still there)" : "");
    } else if (!reading.version) {
        outcome.cause = "it came back but did not answer its version query";
    } else if (want && *reading.version != *want) {
        outcome.cause =
            "it came back with version " + reading.version->Text() + ", not " + want->Text();
    } else {
        outcome.result = JobResult::kPassed;
        outcome.cause.clear();
    }
}

}  // namespace torvane
