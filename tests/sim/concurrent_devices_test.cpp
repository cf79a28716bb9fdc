// Several update runs at once on one simulated bus, each on its own thread with its own device:
// every device ends with exactly what was written to it, also when the boot loaders come back in
// the reverse order of their switch, so that the interfaces' indices move under every run. (A
// cable pulled in the middle of one run among others is the command line's update tests'.)
#include <thread>

#include <gtest/gtest.h>

#include "discovery/device_scan.h"
#include "protocol/write_order.h"
#include "sim/simulated_family.h"
#include "sim/virtual_clock.h"
#include "support/records.h"
#include "update/update_run.h"

namespace torvane::sim {
namespace {

class Statuses final : public UpdateObserver {
public:
    void OnStatus(const std::string& text, int) override { last = text; }
    void ShowMessage(const std::string& text, const std::string&) override { last = text; }
    std::string last;
};

std::string Port(int device) {
    return "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(" + std::to_string(device + 1) + ")";
}

// Each device gets its own addresses and bytes, so that a write that reached another device
// shows in that device's flash.
ImageTable ImageFor(int device, int records) {
    ImageTable image;
    for (int k = 0; k < records; ++k) {
        image.imageRecords.push_back(test::Record(
            static_cast<std::uint16_t>(0x2000 + device * 0x800 + k * 0x20),
            std::vector<std::uint8_t>(32, static_cast<std::uint8_t>(device * 32 + k))));
    }
    image.imageRecords.emplace_back();  // the end-of-file record, never written
    image.imageRecordCount = records;
    return image;
}

TEST(ConcurrentDevices, EachDeviceHoldsExactlyItsOwnImage) {
    constexpr int kDevices = 8, kRecords = 24;
    std::vector<FamilyDeviceConfig> configs;
    for (int device = 0; device < kDevices; ++device) {
        configs.push_back(FamilyDeviceConfig::ForModel(device % 2 ? 0x1F02 : 0x1F10, Port(device)));
        configs.back().switchMs = static_cast<std::uint32_t>(200 + 300 * (kDevices - device));
    }
    VirtualClock clock;
    SimulatedFamily family(configs, clock);
    Statuses scan;
    const DeviceTable table = ScanDevices(family.interfaces(), family.hid(), scan);
    ASSERT_EQ(table.size(), static_cast<std::size_t>(kDevices));

    std::vector<ImageTable> images;
    std::vector<Statuses> observers(table.size());
    std::vector<std::unique_ptr<UpdateRun>> runs;
    for (int device = 0; device < kDevices; ++device) {
        ASSERT_EQ(table[device].location, Port(device));
        images.push_back(ImageFor(device, kRecords));
        runs.push_back(std::make_unique<UpdateRun>(
            table[device], 0, true, UpdateSeams{family.interfaces(), family.hid(), clock},
            observers[device]));
    }
    std::vector<RunResult> results(runs.size(), RunResult::kFailed);
    {
        std::vector<std::jthread> threads;
        for (std::size_t i = 0; i < runs.size(); ++i) {
            threads.emplace_back([&, i] {
                if (runs[i]->Open()) {
                    results[i] = runs[i]->Update(images[i], clock.TickCount());
                }
            });
        }
    }

    for (int device = 0; device < kDevices; ++device) {
        SCOPED_TRACE(device);
        std::vector<std::uint8_t> expected(kFlashSize, 0xFF);
        for (int k = 0; k < kRecords; ++k) {
            const ImageRecord& record = images[device].imageRecords[k];
            std::copy_n(record.data.begin(), record.length, expected.begin() + record.Address());
        }
        const FamilyDevice& sim = *family.devices()[device];
        EXPECT_EQ(results[device], RunResult::kSucceeded) << observers[device].last;
        EXPECT_EQ(sim.eraseCount(), 1);
        EXPECT_EQ(sim.writeCount(), static_cast<int>(PlanWrites(images[device]).size()));
        EXPECT_TRUE(sim.flash() == expected);
    }
}

}  // namespace
}  // namespace torvane::sim
