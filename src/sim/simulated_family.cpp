#include "sim/simulated_family.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "protocol/report_log.h"

namespace torvane::sim {
namespace {

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes,
               std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = "cannot write '" + path + "': " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const int writeErrno = errno;
    if (std::fclose(file) != 0 || !written) {
        error = "cannot write '" + path + "': " + std::strerror(written ? errno : writeErrno);
        return false;
    }
    return true;
}

}  // namespace

SimulatedFamily::SimulatedFamily(std::vector<FamilyDeviceConfig> devices, Clock& clock)
    : bus_(clock) {
    for (FamilyDeviceConfig& config : devices) {
        devices_.push_back(std::make_shared<FamilyDevice>(std::move(config), clock.TickCount()));
        bus_.Attach(devices_.back());
    }
}

SimulatedFamily::SimulatedFamily(std::vector<FamilyDeviceConfig> devices)
    : SimulatedFamily(std::move(devices), MonotonicClock()) {
    virtualTime_ = false;
}

std::optional<std::uint32_t> SimulatedFamily::NextPlugChange(std::uint32_t after) const {
    std::optional<std::uint32_t> first;
    for (const std::shared_ptr<FamilyDevice>& device : devices_) {
        const std::optional<std::uint32_t> next = device->NextPlugChange(after);
        // The nearest after `after`, right across a wrap of the counter.
        if (next && (!first || *next - after < *first - after)) {
            first = next;
        }
    }
    return first;
}

bool SimulatedFamily::DumpFlash(const std::string& pattern, std::string& error) const {
    if (devices_.empty()) {
        error = "no simulated device to dump";
        return false;
    }
    if (pattern.find(kDeviceIndexField) == std::string::npos) {
        return WriteFile(pattern, devices_.front()->flash(), error);
    }
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        if (!WriteFile(DevicePath(pattern, i), devices_[i]->flash(), error)) {
            return false;
        }
    }
    return true;
}

}  // namespace torvane::sim
