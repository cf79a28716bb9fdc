// The time of one scan of the device list over 1, 8, 64 and 128 simulated HID interfaces, each a
// family device: the best of several scans, in microseconds, and per interface.
#include <chrono>
#include <cstdio>
#include <string>

#include "discovery/device_scan.h"
#include "platform/message_sink.h"
#include "sim/simulated_family.h"
#include "sim/virtual_clock.h"

namespace {

class NoMessages final : public torvane::MessageSink {
public:
    void ShowMessage(const std::string&, const std::string&) override {}
};

}  // namespace

int main() {
    using Clock = std::chrono::steady_clock;
    std::printf("%12s %14s %16s %8s\n", "interfaces", "scan (us)", "per interface", "listed");
    for (const int count : {1, 8, 64, 128}) {
        std::vector<torvane::sim::FamilyDeviceConfig> devices;
        for (int i = 0; i < count; ++i) {
            devices.push_back(torvane::sim::FamilyDeviceConfig::ForModel(
                0x1F02, "PCIROOT(0)#USB(" + std::to_string(i + 1) + ")"));
        }
        torvane::sim::VirtualClock clock;
        torvane::sim::SimulatedFamily family(devices, clock);
        NoMessages messages;
        std::size_t listed = 0;
        auto best = Clock::duration::max();
        for (int round = 0; round < 5; ++round) {
            const auto start = Clock::now();
            listed = torvane::ScanDevices(family.interfaces(), family.hid(), messages).size();
            best = std::min(best, Clock::now() - start);
        }
        const double us = std::chrono::duration<double, std::micro>(best).count();
        std::printf("%12d %14.0f %16.1f %8zu\n", count, us, us / count, listed);
    }
    return 0;
}
