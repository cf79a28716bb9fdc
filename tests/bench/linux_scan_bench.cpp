// The Linux backend on the umockdev test bed, with 1, 4 and 16 family devices on the bus: the time
// of one scan and the listings it made (the best of several scans), then the wall time of
// torvane-cli update --all over them in real time with the sample image. Runs under the umockdev
// preload library (scripts/bench starts it so).
#include <chrono>
#include <cstdio>
#include <sstream>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_main.h"
#include "discovery/device_scan.h"
#include "linux/hidraw_testbed.h"
#include "platform/device_interfaces.h"
#include "platform/hid_class.h"
#include "platform/linux/hid_interfaces.h"
#include "platform/message_sink.h"
#include "sim/virtual_clock.h"

namespace {

using namespace torvane;
using Steady = std::chrono::steady_clock;

constexpr int kCounts[] = {1, 4, 16};

class NoMessages final : public MessageSink {
public:
    void ShowMessage(const std::string&, const std::string&) override {}
};

sim::FamilyDeviceConfig QmxC() {
    sim::FamilyDeviceConfig config = sim::FamilyDeviceConfig::ForModel(0x1F02, "");
    // Short re-enumerations and erase, as the test bed's real-time tests have them.
    config.switchMs = config.restartMs = config.eraseMs = 300;
    return config;
}

double Seconds(Steady::duration time) {
    return std::chrono::duration<double>(time).count();
}

}  // namespace

int main() {
    std::printf("%8s %12s %14s %12s\n", "devices", "scan (us)", "listings/scan", "listed");
    std::vector<double> scans;
    for (const int count : kCounts) {
        sim::VirtualClock clock;
        test::HidrawTestbed bed(clock);
        for (int port = 1; port <= count; ++port) {
            bed.AddFamilyDevice(QmxC(), port);
        }
        NoMessages messages;
        std::size_t listed = 0;
        std::uint64_t listings = 0;
        auto best = Steady::duration::max();
        for (int round = 0; round < 5; ++round) {
            const std::uint64_t before = linux_hid::ListingCount();
            const auto start = Steady::now();
            listed = ScanDevices(SystemDeviceInterfaces(), SystemHidClass(), messages).size();
            best = std::min(best, Steady::now() - start);
            listings = linux_hid::ListingCount() - before;
        }
        scans.push_back(Seconds(best));
        std::printf("%8d %12.0f %14llu %12zu\n", count, Seconds(best) * 1e6,
                    static_cast<unsigned long long>(listings), listed);
    }
    std::printf("scan of %d / scan of 1: %.1f (goal: at most 20)\n\n", kCounts[2],
                scans.back() / scans.front());

    std::printf("%8s %14s %8s\n", "devices", "update --all", "exit");
    double one = 0;
    for (const int count : kCounts) {
        test::HidrawTestbed bed(SystemClock());
        for (int port = 1; port <= count; ++port) {
            bed.AddFamilyDevice(QmxC(), port);
        }
        // Keeps the nodes in step with the emulators while the program runs.
        std::jthread follower([&bed](std::stop_token stop) {
            while (!stop.stop_requested()) {
                bed.Sync();
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
        const char* argv[] = {"torvane-cli", "update", TORVANE_SAMPLE_IMAGE, "--all"};
        std::ostringstream out, err;
        const auto start = Steady::now();
        const int status = cli::RunCli(4, argv, out, err, false);
        const double took = Seconds(Steady::now() - start);
        one = count == 1 ? took : one;
        std::printf("%8d %12.2f s %8d  (%.2f times one)\n", count, took, status, took / one);
        if (status != 0) {
            std::fputs(err.str().c_str(), stderr);
            return 1;
        }
    }
    return 0;
}
