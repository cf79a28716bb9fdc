// The simulated device family behind the seams: a virtual bus with family devices attached in
// order, as the command line and the Windows program run it instead of real hardware.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "sim/family_device.h"
#include "sim/sim_device_interfaces.h"
#include "sim/sim_hid_class.h"
#include "sim/virtual_bus.h"

namespace torvane::sim {

class SimulatedFamily {
public:
    // One device per config, at ports in the configs' order.
    SimulatedFamily(std::vector<FamilyDeviceConfig> devices, Clock& clock);

    DeviceInterfaces& interfaces() { return interfaces_; }
    HidClass& hid() { return hid_; }
    VirtualBus& bus() { return bus_; }
    const std::vector<std::shared_ptr<FamilyDevice>>& devices() const { return devices_; }

    // Writes the flash of device 0, kFlashSize bytes, to the file pattern names; a pattern with
    // "{n}" gives one file per device, "{n}" replaced by the device's index. False and the path
    // and system reason in error when a file cannot be written.
    bool DumpFlash(const std::string& pattern, std::string& error) const;

private:
    VirtualBus bus_;
    SimDeviceInterfaces interfaces_{bus_};
    SimHidClass hid_{bus_};
    std::vector<std::shared_ptr<FamilyDevice>> devices_;
};

}  // namespace torvane::sim
