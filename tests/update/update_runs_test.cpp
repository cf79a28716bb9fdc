#include "update/update_run.h"

#include <thread>

#include <gtest/gtest.h>

#include "discovery/device_scan.h"
#include "protocol/write_order.h"
#include "sim/simulated_family.h"
#include "sim/virtual_clock.h"
#include "support/hex_text.h"
#include "support/temp_file.h"

namespace torvane {
namespace {

class Statuses final : public UpdateObserver {
public:
    void OnStatus(const std::string& text, int) override { last = text; }
    void ShowMessage(const std::string& text, const std::string&) override {
        messages.push_back(text);
    }
    std::string last;
    std::vector<std::string> messages;
};

// Three QMX-C switched at once that come back as boot loaders in the reverse order, so that the
// interfaces' indices move under every run: each run still writes only its own device.
TEST(UpdateRuns, BootLoadersReturningInAnotherOrderAreEachFoundAtTheirPort) {
    std::vector<sim::FamilyDeviceConfig> configs;
    for (const std::uint32_t switchMs : {3000u, 1200u, 200u}) {
        configs.push_back(sim::FamilyDeviceConfig::ForModel(
            0x1F02, "PCIROOT(0)#USB(" + std::to_string(configs.size() + 1) + ")"));
        configs.back().switchMs = switchMs;
    }
    sim::VirtualClock clock;
    sim::SimulatedFamily family(configs, clock);
    Statuses scanMessages;
    const DeviceTable table = ScanDevices(family.interfaces(), family.hid(), scanMessages);
    ASSERT_EQ(table.size(), 3u);

    test::TempFile file(
        test::CrLfFile({test::DataLine(0x2200, std::vector<std::uint8_t>(32, 7)),
                        test::DataLine(0x2000, {0xC0, 0xDE}), test::kEndOfFileLine}));
    ImageTable image;
    ASSERT_TRUE(LoadHexImage(file.Open(), LoadRules{1, {}}, image));

    std::vector<Statuses> observers(table.size());
    std::vector<std::unique_ptr<UpdateRun>> runs;
    for (std::size_t i = 0; i < table.size(); ++i) {
        runs.push_back(std::make_unique<UpdateRun>(
            table[i], 0, UpdateSeams{family.interfaces(), family.hid(), clock}, observers[i]));
    }
    std::vector<RunResult> results(runs.size(), RunResult::kFailed);
    {
        std::vector<std::jthread> threads;
        for (std::size_t i = 0; i < runs.size(); ++i) {
            threads.emplace_back([&, i] {
                if (runs[i]->Open()) {
                    results[i] = runs[i]->Update(image, clock.TickCount());
                }
            });
        }
    }
    for (std::size_t i = 0; i < runs.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(results[i], RunResult::kSucceeded) << observers[i].last;
        const sim::FamilyDevice& device = *family.devices()[i];
        EXPECT_EQ(device.eraseCount(), 1);
        EXPECT_EQ(device.writeCount(), static_cast<int>(PlanWrites(image).size()));
        EXPECT_EQ(device.flash()[0x2200 + 31], 7);
        EXPECT_EQ(device.flash()[0x2001], 0xDE);
        EXPECT_TRUE(observers[i].messages.empty());
    }
}

}  // namespace
}  // namespace torvane
