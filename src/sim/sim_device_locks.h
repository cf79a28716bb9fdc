// The device lock seam for the simulated family: its devices exist in this process only, and so
// do their locks.
#pragma once

#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "platform/device_lock.h"

namespace torvane::sim {

class SimDeviceLocks final : public DeviceLocks {
public:
    // Every lock taken must go before the table does.
    std::unique_ptr<DeviceLock> TryLock(const std::string& location,
                                        std::uint32_t& holder) override;

private:
    class Held;

    std::mutex mutex_;
    std::set<std::string> held_;  // by location
};

}  // namespace torvane::sim
