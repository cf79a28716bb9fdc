#include "cli/cli_system.h"

#include <cerrno>
#include <cstring>

#include "sim/device_list_grammar.h"

namespace torvane::cli {

std::string CannotWrite(const std::string& path) {
    return "cannot write '" + path + "': " + std::strerror(errno);
}

std::unique_ptr<CliSystem> CliSystem::Create(const CliOptions& options, std::string& error) {
    std::unique_ptr<CliSystem> system(new CliSystem);
    if (options.virtualTime) {
        system->virtualClock_ = std::make_unique<sim::VirtualClock>();
        system->clock_ = system->virtualClock_.get();
    } else {
        system->clock_ = &SystemClock();
    }
    if (options.simulate) {
        auto devices = sim::ParseDeviceSpecs(*options.simulate, error);
        if (!devices) {
            error = "--simulate: " + error;
            return nullptr;
        }
        system->family_ = system->virtualClock_
                              ? std::make_unique<sim::SimulatedFamily>(std::move(*devices),
                                                                       *system->virtualClock_)
                              : std::make_unique<sim::SimulatedFamily>(std::move(*devices));
        system->interfaces_ = &system->family_->interfaces();
        system->hid_ = &system->family_->hid();
    } else {
        system->interfaces_ = &SystemDeviceInterfaces();
        system->hid_ = &SystemHidClass();
    }
    // Several devices at once: each run writes a log of its own.
    if (!options.reportLog.empty() && !ManyDevices(options)) {
        const std::string path = DevicePath(options.reportLog, SingleDevice(options));
        system->logFile_.open(path, std::ios::binary | std::ios::trunc);
        if (!system->logFile_) {
            error = CannotWrite(path);
            return nullptr;
        }
        system->log_ =
            std::make_unique<ReportLog>(*system->hid_, *system->clock_, system->logFile_);
    }
    return system;
}

}  // namespace torvane::cli
