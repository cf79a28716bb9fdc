#include "system/device_system.h"

#include <cerrno>
#include <cstring>

#include "platform/device_access.h"
#include "platform/hid_class.h"
#include "protocol/family.h"
#include "sim/device_list_grammar.h"
#include "sim/sim_arrivals.h"
#include "system/access_findings.h"

namespace torvane {

std::string CannotWrite(const std::string& path) {
    return "cannot write '" + path + "': " + std::strerror(errno);
}

std::unique_ptr<DeviceSystem> DeviceSystem::Create(const std::optional<std::string>& simulate,
                                                   bool virtualTime, std::string& error) {
    std::unique_ptr<DeviceSystem> system(new DeviceSystem);
    if (virtualTime) {
        system->virtualClock_ = std::make_unique<sim::VirtualClock>();
        system->clock_ = system->virtualClock_.get();
    } else {
        system->clock_ = &SystemClock();
    }
    if (simulate) {
        auto devices = sim::ParseDeviceList(*simulate, error);
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
        system->locks_ = &system->family_->locks();
    } else {
        // A program killed while it held an interface can leave it without a driver: the HID
        // driver gets it back before this program starts on the devices.
        for (const GivenBack& given : GiveBackDriverless(family::kVendorId, family::kProductIds)) {
            system->notes_.push_back(GiveBackNote(given));
        }
        system->interfaces_ = &SystemDeviceInterfaces();
        system->hid_ = &SystemHidClass();
        system->locks_ = &SystemDeviceLocks();
    }
    return system;
}

std::unique_ptr<DeviceArrivals> DeviceSystem::WatchArrivals(std::string& error) {
    if (family_) {
        return std::make_unique<sim::SimArrivals>(*family_);
    }
    return WatchSystemArrivals(hid_->HidGuid(), error);
}

bool DeviceSystem::LogReportsTo(const std::string& path, std::string& error) {
    logFile_.open(path, std::ios::binary | std::ios::trunc);
    if (!logFile_) {
        error = CannotWrite(path);
        return false;
    }
    log_ = std::make_unique<ReportLog>(*hid_, *clock_, logFile_);
    return true;
}

void DeviceSystem::KeepReportsInMemory() {
    memory_ = std::make_unique<ReportMemory>();
    log_ = std::make_unique<ReportLog>(*hid_, *clock_, memory_->stream());
}

}  // namespace torvane
