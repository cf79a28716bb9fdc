// Word of the simulated family's plug-ins and pull-outs, as their schedules give them.
#pragma once

#include "platform/device_arrivals.h"
#include "sim/simulated_family.h"

namespace torvane::sim {

class SimArrivals final : public DeviceArrivals {
public:
    explicit SimArrivals(SimulatedFamily& family);

    bool Wait(std::uint32_t timeoutMs, bool alone) override;

private:
    // True when a scheduled change has come since the last word, which it then takes.
    bool Take();

    SimulatedFamily& family_;
    std::uint32_t toldUntil_;  // every change up to this time has been told
};

}  // namespace torvane::sim
