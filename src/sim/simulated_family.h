// The simulated device family behind the seams: a virtual bus with family devices attached in
// order, as the command line and the Windows program run it instead of real hardware.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "sim/family_device.h"
#include "sim/replay_device.h"
#include "sim/sim_device_interfaces.h"
#include "sim/sim_device_locks.h"
#include "sim/sim_hid_class.h"
#include "sim/virtual_bus.h"

namespace torvane::sim {

class SimulatedFamily {
public:
    // One device per config, at ports in the configs' order, on clock: the engine's virtual
    // clock, so that the devices' time and the engine's waits are one.
    SimulatedFamily(std::vector<FamilyDeviceConfig> devices, Clock& clock);
    // The same in real time. The devices keep their own time on the monotonic clock, never on
    // the engine's tick counter: on Windows that moves in steps of about 16 ms, and a device
    // that has a reply ready a few milliseconds after a request would miss a host that reads
    // after its 10 ms wait, whenever no step fell into the wait.
    explicit SimulatedFamily(std::vector<FamilyDeviceConfig> devices);

    DeviceInterfaces& interfaces() { return interfaces_; }
    HidClass& hid() { return hid_; }
    DeviceLocks& locks() { return locks_; }
    VirtualBus& bus() { return bus_; }
    // The family devices, in port order; the replays are not among them.
    const std::vector<std::shared_ptr<FamilyDevice>>& devices() const { return devices_; }
    // Why each replay that did not follow its log to the end stopped; empty when all did.
    std::vector<std::string> ReplayProblems() const;
    // Whether the family runs on the engine's virtual clock.
    bool virtualTime() const { return virtualTime_; }

    // The first time after `after` at which a device's schedule plugs it in or pulls it out;
    // nullopt when no schedule has one left.
    std::optional<std::uint32_t> NextPlugChange(std::uint32_t after) const;

    // Writes the flash of the device at the first port, kFlashSize bytes, to the file pattern
    // names; a pattern with
    // "{n}" gives one file per device, "{n}" replaced by the device's index. False and the path
    // and system reason in error when a file cannot be written.
    bool DumpFlash(const std::string& pattern, std::string& error) const;

private:
    VirtualBus bus_;
    SimDeviceInterfaces interfaces_{bus_};
    SimHidClass hid_{bus_};
    SimDeviceLocks locks_;
    std::vector<std::shared_ptr<FamilyDevice>> devices_;
    std::vector<std::shared_ptr<ReplayDevice>> replays_;
    std::vector<std::function<std::vector<std::uint8_t>()>> flashes_;  // by port
    bool virtualTime_ = true;
};

}  // namespace torvane::sim
