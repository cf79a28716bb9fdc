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
        if (config.replay) {
            auto replay = std::make_shared<ReplayDevice>(std::move(config.replay),
                                                         config.locationPath, clock.TickCount());
            replays_.push_back(replay);
            flashes_.emplace_back([replay] { return replay->flash(); });
            bus_.Attach(std::move(replay));
            continue;
        }
        auto device = std::make_shared<FamilyDevice>(std::move(config), clock.TickCount());
        devices_.push_back(device);
        flashes_.emplace_back([device] { return device->flash(); });
        bus_.Attach(std::move(device));
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

std::vector<std::string> SimulatedFamily::ReplayProblems() const {
    std::vector<std::string> problems;
    for (const std::shared_ptr<ReplayDevice>& replay : replays_) {
        if (std::string problem = replay->Problem(); !problem.empty()) {
            problems.push_back(std::move(problem));
        }
    }
    return problems;
}

bool SimulatedFamily::DumpFlash(const std::string& pattern, std::string& error) const {
    if (flashes_.empty()) {
        error = "no simulated device to dump";
        return false;
    }
    if (pattern.find(kDeviceIndexField) == std::string::npos) {
        return WriteFile(pattern, flashes_.front()(), error);
    }
    for (std::size_t i = 0; i < flashes_.size(); ++i) {
        if (!WriteFile(DevicePath(pattern, i), flashes_[i](), error)) {
            return false;
        }
    }
    return true;
}

}  // namespace torvane::sim
