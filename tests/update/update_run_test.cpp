// Several update runs at once on one simulated bus, each on its own thread with its own device:
// every device ends with exactly what was written to it, also when the boot loaders come back in
// the reverse order of their switch (so that the interfaces' indices move under every run) and
// when another thread pulls one device's cable in the middle of its run.
#include <chrono>
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

struct Case {
    const char* name;
    bool realTime;
    int devices;
    int records;
    bool unplugLastWhileErasing;
};

class Statuses final : public UpdateObserver {
public:
    void OnStatus(const std::string& text, int) override { last = text; }
    void ShowMessage(const std::string& text, const std::string&) override {
        messages.push_back(text);
    }
    std::string last;
    std::vector<std::string> messages;
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

class ConcurrentDevicesTest : public ::testing::TestWithParam<Case> {};

TEST_P(ConcurrentDevicesTest, EachDeviceHoldsExactlyItsOwnImage) {
    const Case& c = GetParam();
    std::vector<FamilyDeviceConfig> configs;
    for (int device = 0; device < c.devices; ++device) {
        configs.push_back(FamilyDeviceConfig::ForModel(device % 2 ? 0x1F02 : 0x1F10, Port(device)));
        configs.back().switchMs = static_cast<std::uint32_t>(200 + 300 * (c.devices - device));
        configs.back().eraseMs = 300;
    }
    VirtualClock virtualClock;
    Clock& clock = c.realTime ? MonotonicClock() : virtualClock;
    SimulatedFamily family(configs, clock);
    Statuses scan;
    const DeviceTable table = ScanDevices(family.interfaces(), family.hid(), scan);
    ASSERT_EQ(table.size(), static_cast<std::size_t>(c.devices));

    std::vector<ImageTable> images;
    std::vector<Statuses> observers(table.size());
    std::vector<std::unique_ptr<UpdateRun>> runs;
    for (int device = 0; device < c.devices; ++device) {
        ASSERT_EQ(table[device].location, Port(device));
        images.push_back(ImageFor(device, c.records));
        runs.push_back(std::make_unique<UpdateRun>(
            table[device], 0, true,
            UpdateSeams{family.interfaces(), family.hid(), clock, family.locks()},
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
        FamilyDevice& last = *family.devices().back();
        for (int ms = 0; c.unplugLastWhileErasing && ms < 10000 && last.eraseCount() == 0; ++ms) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (c.unplugLastWhileErasing) {
            last.Unplug();
        }
    }

    for (int device = 0; device < c.devices; ++device) {
        SCOPED_TRACE(device);
        const bool unplugged = c.unplugLastWhileErasing && device == c.devices - 1;
        const ImageTable& image = images[device];
        std::vector<std::uint8_t> expected(kFlashSize, 0xFF);
        for (int k = 0; k < c.records && !unplugged; ++k) {
            const ImageRecord& record = image.imageRecords[k];
            std::copy_n(record.data.begin(), record.length, expected.begin() + record.Address());
        }
        const FamilyDevice& sim = *family.devices()[device];
        EXPECT_EQ(results[device], unplugged ? RunResult::kFailed : RunResult::kSucceeded)
            << observers[device].last;
        EXPECT_EQ(sim.eraseCount(), 1);
        EXPECT_EQ(sim.writeCount(), unplugged ? 0 : static_cast<int>(PlanWrites(image).size()));
        EXPECT_TRUE(sim.flash() == expected);
        EXPECT_EQ(observers[device].messages.empty(), !unplugged);
    }
}

INSTANTIATE_TEST_SUITE_P(Runs, ConcurrentDevicesTest,
                         ::testing::Values(Case{"VirtualTime", false, 8, 24, false},
                                           Case{"RealTime", true, 4, 3, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace torvane::sim
