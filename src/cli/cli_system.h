// What torvane-cli talks to: the system's devices, or the simulated family on its own clock,
// optionally with every report written to a log.
#pragma once

#include <fstream>
#include <memory>
#include <string>

#include "cli/cli_options.h"
#include "platform/clock.h"
#include "platform/device_interfaces.h"
#include "platform/hid_class.h"
#include "protocol/report_log.h"
#include "sim/simulated_family.h"
#include "sim/virtual_clock.h"

namespace torvane::cli {

// The message for a file that cannot be opened for writing, from errno.
std::string CannotWrite(const std::string& path);

class CliSystem {
public:
    // nullptr and a reason when the options ask for what cannot be had.
    static std::unique_ptr<CliSystem> Create(const CliOptions& options, std::string& error);

    DeviceInterfaces& interfaces() { return *interfaces_; }
    // The HID class with the report log in front, when there is one log.
    HidClass& hid() { return log_ ? *log_ : *hid_; }
    // The HID class without it, for runs that keep logs of their own.
    HidClass& deviceHid() { return *hid_; }
    Clock& clock() { return *clock_; }
    // The simulated family; nullptr on the system's devices.
    const sim::SimulatedFamily* family() const { return family_.get(); }

private:
    CliSystem() = default;

    std::unique_ptr<sim::VirtualClock> virtualClock_;
    std::unique_ptr<sim::SimulatedFamily> family_;
    Clock* clock_ = nullptr;
    DeviceInterfaces* interfaces_ = nullptr;
    HidClass* hid_ = nullptr;
    std::ofstream logFile_;
    std::unique_ptr<ReportLog> log_;
};

}  // namespace torvane::cli
