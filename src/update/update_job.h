// One device's update from its list entry to a verified outcome: read the device, the gate, load
// the image under the device's rules, the policy, the run, the closing scans and the read-back at
// the device's port. Every front end updates a device through one of these.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

#include "discovery/device_reading.h"
#include "discovery/device_table.h"
#include "update/update_outcome.h"
#include "update/update_run.h"

namespace torvane {

// What a station asks beyond the update: an application that already runs the image's version,
// or a newer one, is left as it is.
// And how long a device may take to come back from its run: beyond the closing scans, the
// job looks for it at its port until returnWindowMs from their start have passed.
struct UpdatePolicy {
    bool skipCurrent = false;
    bool noDowngrade = false;
    std::uint32_t returnWindowMs = 0;
};

// A window a slow board comes back in from its run; the closing scans alone take 3 s.
inline constexpr std::uint32_t kReturnWindowMs = 30'000;

// A read of the device made before the job, as the dialog makes one when an entry is selected.
struct PriorReading {
    FirmwareReading reading;
    Identity identity;
};

class UpdateJob {
public:
    UpdateJob(ListedDevice entry, std::string file, UpdatePolicy policy, UpdateSeams seams,
              UpdateObserver& observer, WindowHandle window = {});

    // A stop asked for on stop ends the run between two exchanges, and the job without its
    // closing scans.
    void StopWhen(std::stop_token stop) { stop_ = std::move(stop); }
    // Takes the device as prior read it instead of reading it again.
    void UsePriorReading(const PriorReading& prior) { prior_ = prior; }
    // The device's lock, taken by the caller; without one the job takes it itself.
    void UseLock(std::unique_ptr<DeviceLock> lock) { lock_ = std::move(lock); }

    // The whole road under the device's lock, or refused untouched as busy when another holder
    // has it; on its thread, once.
    UpdateOutcome Run();

private:
    // The outcome of a device left as it was read.
    UpdateOutcome Unchanged(const FirmwareReading& reading) const;
    // An application below the boot loader protocol is refused, after telling why; nullopt to go
    // on.
    std::optional<UpdateOutcome> Gate(const FirmwareReading& reading);
    // The policy's outcome for an application it leaves as it is; nullopt to go on.
    std::optional<UpdateOutcome> Skip(const FirmwareReading& reading,
                                      const std::optional<FirmwareVersion>& imageVersion) const;
    // The closing scans, the read-back at the device's port and the verdict on outcome; left:
    // whether the device left the bus during the run.
    void Verify(UpdateOutcome& outcome, bool written, bool left,
                const std::optional<FirmwareVersion>& want);
    // The device at its port in table, or nullptr.
    const ListedDevice* AtPort(const DeviceTable& table) const;

    ListedDevice entry_;
    std::string file_;
    UpdatePolicy policy_;
    UpdateSeams seams_;
    UpdateObserver& observer_;
    WindowHandle window_;
    std::optional<PriorReading> prior_;
    std::stop_token stop_;
    std::unique_ptr<DeviceLock> lock_;
};

}  // namespace torvane
