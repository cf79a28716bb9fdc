// Device lock seam: one program at a time exchanges reports with a device. A lock per device
// location, shared by every program of every user of the system, taken without ever waiting,
// held until its object goes and released with the process at the latest. A second holder in
// the same process is refused as one in another process is.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace torvane {

// A held lock; destroying it releases it, on any thread.
class DeviceLock {
public:
    virtual ~DeviceLock() = default;
};

class DeviceLocks {
public:
    virtual ~DeviceLocks() = default;
    // Takes the lock of the device at location (a location path, not empty). nullptr when
    // another holder has it (or it cannot be taken); holder is then the holding process's ID, 0
    // when that cannot be told.
    virtual std::unique_ptr<DeviceLock> TryLock(const std::string& location,
                                                std::uint32_t& holder) = 0;
};

// The locks of this system's devices.
DeviceLocks& SystemDeviceLocks();
// This process's ID, as a holder is named.
std::uint32_t CurrentProcessId();

// What is said of a device whose lock holder has: "busy: being updated by process N".
std::string BusyText(std::uint32_t holder);
// location as a backend names its lock object: "torvane-" and its first 160 characters, each
// but a letter, a digit, '-' and '.' turned into '_'.
std::string LockName(const std::string& location);

}  // namespace torvane
