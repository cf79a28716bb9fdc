#include "sim/sim_device_locks.h"

namespace torvane::sim {

class SimDeviceLocks::Held final : public DeviceLock {
public:
    Held(SimDeviceLocks& table, std::string location)
        : table_(table), location_(std::move(location)) {}
    ~Held() override {
        const std::lock_guard lock(table_.mutex_);
        table_.held_.erase(location_);
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

private:
    SimDeviceLocks& table_;
    std::string location_;
};

std::unique_ptr<DeviceLock> SimDeviceLocks::TryLock(const std::string& location,
                                                    std::uint32_t& holder) {
    const std::lock_guard lock(mutex_);
    if (!held_.insert(location).second) {
        holder = CurrentProcessId();
        return nullptr;
    }
    holder = 0;
    return std::make_unique<Held>(*this, location);
}

}  // namespace torvane::sim
