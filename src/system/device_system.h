// What a front end talks to: the system's devices, or the simulated family on its own clock,
// optionally with every report written to a log.
#pragma once

#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/device_arrivals.h"
#include "platform/device_interfaces.h"
#include "platform/device_lock.h"
#include "platform/hid_class.h"
#include "protocol/report_log.h"
#include "protocol/report_memory.h"
#include "sim/simulated_family.h"
#include "sim/virtual_clock.h"

namespace torvane {

// The message for a file that cannot be opened for writing, from errno.
std::string CannotWrite(const std::string& path);

class DeviceSystem {
public:
    // simulate: the DEVICES text of --simulate[=DEVICES], or none for the system's devices.
    // virtualTime: the simulated family runs on a virtual clock. nullptr and "--simulate: "
    // with the reason when the DEVICES text is refused.
    static std::unique_ptr<DeviceSystem> Create(const std::optional<std::string>& simulate,
                                                bool virtualTime, std::string& error);

    // Writes every report exchanged through hid() to the file at `path` from now on (emptied
    // first); called once at the most. False and the reason when it cannot be written.
    bool LogReportsTo(const std::string& path, std::string& error);
    // Keeps every report exchanged through hid() in memory from now on, as a window without a
    // log file does; called once at the most, and not with LogReportsTo.
    void KeepReportsInMemory();

    DeviceInterfaces& interfaces() { return *interfaces_; }
    // The HID class with the report log in front, when there is one.
    HidClass& hid() { return log_ ? *log_ : *hid_; }
    // The report log; nullptr when reports are not logged.
    ReportLog* log() { return log_.get(); }
    // Where the log writes when it is kept in memory; nullptr otherwise.
    ReportMemory* memory() { return memory_.get(); }
    // The HID class without it, for runs that keep logs of their own.
    HidClass& deviceHid() { return *hid_; }
    Clock& clock() { return *clock_; }
    // The devices' locks: the system's, shared with every other program, or the simulated
    // family's.
    DeviceLocks& locks() { return *locks_; }
    // The simulated family; nullptr on the system's devices.
    const sim::SimulatedFamily* family() const { return family_.get(); }
    // Word of the family's HID interfaces coming and going: the simulated family's schedules,
    // or the system's. nullptr and the reason when there is none.
    std::unique_ptr<DeviceArrivals> WatchArrivals(std::string& error);

    // What readying the system's devices did, a sentence each; empty for the simulated family.
    const std::vector<std::string>& notes() const { return notes_; }

private:
    DeviceSystem() = default;

    std::unique_ptr<sim::VirtualClock> virtualClock_;
    std::unique_ptr<sim::SimulatedFamily> family_;
    Clock* clock_ = nullptr;
    DeviceInterfaces* interfaces_ = nullptr;
    HidClass* hid_ = nullptr;
    DeviceLocks* locks_ = nullptr;
    std::ofstream logFile_;
    std::unique_ptr<ReportMemory> memory_;
    std::unique_ptr<ReportLog> log_;
    std::vector<std::string> notes_;
};

}  // namespace torvane
