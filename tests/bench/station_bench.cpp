// The flashing station on eight simulated ports in real time, devices plugged in at random
// moments: each device's time from its plug-in to its first command, with the word of the
// plug-in and with the scans every second alone, and the devices per hour against the floor
// that one update's prescribed waits set on each port.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "app/device_system.h"
#include "cli/station.h"
#include "firmware/hex_image.h"
#include "protocol/family.h"
#include "protocol/write_order.h"

namespace {

using namespace torvane;

constexpr int kPorts = 8;
constexpr std::uint32_t kPlugSpreadMs = 8000;

// The scans every second and nothing else, as where the system gives no word.
class ScansOnly final : public DeviceArrivals {
public:
    explicit ScansOnly(Clock& clock) : clock_(clock) {}
    bool Wait(std::uint32_t timeoutMs, bool) override {
        clock_.Sleep(timeoutMs);
        return false;
    }

private:
    Clock& clock_;
};

// The waits one update of the image prescribes: switch, erase start, one erase poll, a write
// echo per write, the start of the new firmware and the closing scans.
std::uint32_t FloorMs(const std::string& image) {
    ImageTable table;
    LoadHexImage(OpenImageFile(image).get(), LoadRules{}, table);
    const auto writes = static_cast<std::uint32_t>(PlanWrites(table).size());
    return family::kEnterDownloadWaitMs + family::kEraseStartWaitMs + family::kErasePollWaitMs +
           writes * family::kWriteEchoWaitMs + family::kRunWaitMs +
           family::kClosingScans * family::kScanIntervalMs;
}

struct Figures {
    double meanFirstMs = 0, maxFirstMs = 0, meanDeviceS = 0;
    int passed = 0;
};

Figures RunOnce(bool told, unsigned seed, const std::string& image) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<std::uint32_t> when(0, kPlugSpreadMs);
    std::string devices;
    for (int port = 0; port < kPorts; ++port) {
        devices +=
            (port ? "," : "") + std::string("qmx-c:plug=") + std::to_string(when(random)) + "ms";
    }
    std::string error;
    const auto system = DeviceSystem::Create(devices, false, error);
    const std::string results = (std::filesystem::temp_directory_path() /
                                 ("torvane-station-bench-" + std::to_string(seed) + ".jsonl"))
                                    .string();
    std::filesystem::remove(results);
    cli::CliOptions options;
    options.command = "station";
    options.file = image;
    options.count = kPorts;
    options.results = results;
    std::ostringstream out, err;
    std::unique_ptr<DeviceArrivals> arrivals =
        told ? system->WatchArrivals(error) : std::make_unique<ScansOnly>(system->clock());
    cli::RunStation(*system, options, *arrivals, out, err, false);

    Figures figures;
    for (const auto& device : system->family()->devices()) {
        const double ms = device->FirstCommandDelay().value_or(0);
        figures.meanFirstMs += ms / kPorts;
        figures.maxFirstMs = std::max(figures.maxFirstMs, ms);
    }
    std::ifstream lines(results);
    for (std::string line; std::getline(lines, line);) {
        const nlohmann::json result = nlohmann::json::parse(line);
        figures.passed += result["result"] == "passed";
        figures.meanDeviceS += result["seconds"].get<double>() / kPorts;
    }
    std::filesystem::remove(results);
    return figures;
}

}  // namespace

int main() {
    const std::string image = TORVANE_SAMPLE_IMAGE;
    const double floorS = FloorMs(image) / 1000.0;
    std::printf("%d ports, devices plugged in at random within %.0f s, the sample image\n", kPorts,
                kPlugSpreadMs / 1000.0);
    std::printf("%-16s %14s %14s %12s %14s %8s\n", "word", "first cmd (ms)", "max (ms)",
                "device (s)", "devices/hour", "passed");
    for (const bool told : {true, false}) {
        const Figures figures = RunOnce(told, 7, image);
        std::printf("%-16s %14.0f %14.0f %12.1f %14.0f %5d/%d\n",
                    told ? "plug-in events" : "scans alone", figures.meanFirstMs,
                    figures.maxFirstMs, figures.meanDeviceS,
                    figures.meanDeviceS > 0 ? kPorts * 3600 / figures.meanDeviceS : 0.0,
                    figures.passed, kPorts);
    }
    std::printf("floor: %.2f s of prescribed waits per update, %.0f devices/hour on %d ports\n",
                floorS, kPorts * 3600 / floorS, kPorts);
    std::printf("goal: first command under 300 ms after the event, under 1200 ms by scans alone\n");
    return 0;
}
