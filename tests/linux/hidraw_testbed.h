// A umockdev test bed of USB devices with their HID interfaces and hidraw nodes, whose ioctls
// the device-family emulator answers, and whose nodes follow the emulator on and off the bus.
#pragma once

#include <umockdev.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "sim/family_device.h"

namespace torvane::test {

class HidrawTestbed {
public:
    // now: the time the emulators run on.
    explicit HidrawTestbed(Clock& now);
    ~HidrawTestbed();
    HidrawTestbed(const HidrawTestbed&) = delete;
    HidrawTestbed& operator=(const HidrawTestbed&) = delete;

    // A family device at port `port` of bus 1; withIdPath: udev gave its USB device an ID_PATH.
    sim::FamilyDevice& AddFamilyDevice(sim::FamilyDeviceConfig config, int port,
                                       bool withIdPath = true);
    // A mouse of another vendor at port `port`, with a boot mouse's report descriptor.
    void AddMouse(int port);
    // The hidraw node at port `port` can no longer be opened by this user.
    void DenyAccess(int port);
    // The report ioctls fail with ENOTTY, as on a kernel before 5.11.
    void RemoveReportIoctls() { reportIoctls_ = false; }

    // Brings the nodes in line with the emulators at the clock's now: a device that left the
    // bus loses its nodes, one that came back (possibly with another product ID) gets them again.
    void Sync();
    // How often the device at `port` has appeared on the bus.
    int Arrivals(int port) const;

    static std::string IdPath(int port);

    // For the ioctl handler: the emulators' time, and whether the report ioctls exist.
    std::uint32_t Now();
    bool ReportIoctls() const { return reportIoctls_; }

    struct Slot;

private:
    void Add(Slot& slot);
    void Remove(Slot& slot);
    std::string NodePath(const Slot& slot) const;

    Clock& now_;
    UMockdevTestbed* bed_;
    std::string root_;
    mutable std::mutex syncLock_;
    std::vector<std::unique_ptr<Slot>> slots_;
    std::atomic<bool> reportIoctls_{true};
    unsigned hidDevices_ = 0;
};

// A clock whose sleeps take no time and then bring the test bed in line, so that a device
// leaves and comes back between the engine's scans.
class TestbedClock final : public Clock {
public:
    explicit TestbedClock(Clock& virtualTime) : time_(virtualTime) {}
    void Attach(HidrawTestbed& bed) { bed_ = &bed; }
    std::uint32_t TickCount() override { return time_.TickCount(); }
    void Sleep(std::uint32_t ms) override;

private:
    Clock& time_;
    HidrawTestbed* bed_ = nullptr;
};

}  // namespace torvane::test
