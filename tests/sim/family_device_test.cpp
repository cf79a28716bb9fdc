#include "sim/family_device.h"

#include <gtest/gtest.h>

#include "support/records.h"

#include "protocol/device_session.h"
#include "protocol/family.h"
#include "sim/sim_arrivals.h"
#include "sim/sim_hid_class.h"
#include "sim/simulated_family.h"
#include "sim/virtual_bus.h"
#include "sim/virtual_clock.h"
#include "support/recording_messages.h"

namespace torvane::sim {
namespace {

using test::Record;

constexpr const char* kPort = "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)";

// The engine's side of the exchange with a family device, on the virtual clock.
class FamilyDeviceTest : public ::testing::Test {
protected:
    FamilyDeviceTest() {
        device = std::make_shared<FamilyDevice>(FamilyDeviceConfig::ForModel(0x1F01, kPort));
        bus.Attach(device);
    }

    // Opens the interface at location as the engine does; false when it is not on the bus.
    bool OpenAt(const std::string& location) {
        for (const BusEntry& entry : bus.Enumerate(kHidClassGuid)) {
            if (entry.locationPath == location) {
                session.sessionHandle = bus.Open(entry.devicePath);
                hid.GetAttributes(session.sessionHandle, session.sessionAttributes);
                hid.GetCaps(session.sessionHandle, session.sessionCaps);
                session.bootMode = session.sessionAttributes.productId == 0x1F00;
                return true;
            }
        }
        return false;
    }

    // A second device, started in its boot loader at P2, opened.
    bool PlugBootLoader(std::uint16_t productId) {
        FamilyDeviceConfig config = FamilyDeviceConfig::ForModel(productId, "P2");
        config.startInBootLoader = true;
        device = std::make_shared<FamilyDevice>(config);
        bus.Attach(device);
        return OpenAt("P2");
    }

    // Scans every 200 ms, at most 50 times, for an interface at location.
    bool WaitFor(const std::string& location) {
        for (int attempt = 0; attempt < 50; ++attempt) {
            const bool found = OpenAt(location);
            clock.Sleep(200);
            if (found) {
                return true;
            }
        }
        return false;
    }

    VirtualClock clock;
    VirtualBus bus{clock};
    std::shared_ptr<FamilyDevice> device;
    SimHidClass hid{bus};
    test::RecordingMessages messages;
    DeviceSession session{hid, clock, messages};
};

TEST_F(FamilyDeviceTest, WritesNeedAnErasedAndIdleFlash) {
    ASSERT_TRUE(PlugBootLoader(0x1F10));
    EXPECT_TRUE(session.WriteRecord(Record(0x2200, {0x0F})));
    // Programming clears bits only: 0x0F over 0x0F reads back 0x0F, 0xF0 then reads 0x00.
    EXPECT_FALSE(session.WriteRecord(Record(0x2200, {0xF0})));
    EXPECT_EQ(device->flash()[0x2200], 0x00);
}

TEST_F(FamilyDeviceTest, ReportsOfAnotherLengthThanAnnouncedAreRefused) {
    ASSERT_TRUE(OpenAt(kPort));
    std::array<std::uint8_t, 40> shortReport{0x03, 0x7E, 0x5A, 0x02, 0x04};
    EXPECT_FALSE(hid.SetOutputReport(session.sessionHandle, shortReport));
    std::array<std::uint8_t, 40> shortInput{0x01};
    EXPECT_FALSE(hid.GetInputReport(session.sessionHandle, shortInput));
}

TEST_F(FamilyDeviceTest, HandlesGoStaleWhenTheDeviceReenumerates) {
    ASSERT_TRUE(OpenAt(kPort));
    const DeviceHandle application = session.sessionHandle;
    session.EnterDownloadMode();
    EXPECT_TRUE(bus.Enumerate(kHidClassGuid).empty());  // off the bus for 1500 ms
    ASSERT_TRUE(WaitFor(kPort));
    HidAttributes attributes;
    EXPECT_FALSE(hid.GetAttributes(application, attributes));
    EXPECT_TRUE(hid.GetAttributes(session.sessionHandle, attributes));
    EXPECT_TRUE(bus.Close(application));
    EXPECT_FALSE(bus.Close(application));
}

// The host's tick counter over real time in steps of 16 ms, as GetTickCount moves on Windows.
class SixteenMsTicks final : public Clock {
public:
    std::uint32_t TickCount() override { return SystemClock().TickCount() & ~15u; }
    void Sleep(std::uint32_t ms) override { SystemClock().Sleep(ms); }
};

TEST(RealTimeFamily, KeepsItsEchoPromiseOnAHostWhoseTicksMoveIn16MsSteps) {
    SixteenMsTicks host;
    FamilyDeviceConfig config = FamilyDeviceConfig::ForModel(0x1F10, kPort);
    config.startInBootLoader = true;
    config.echoMs = family::kWriteEchoWaitMs;  // ready just as the host's wait ends
    SimulatedFamily simulated({config});
    const std::vector<BusEntry> entries = simulated.bus().Enumerate(kHidClassGuid);
    ASSERT_EQ(entries.size(), 1u);
    test::RecordingMessages messages;
    DeviceSession session(simulated.hid(), host, messages);
    session.sessionHandle = simulated.bus().Open(entries[0].devicePath);
    ASSERT_TRUE(simulated.hid().GetCaps(session.sessionHandle, session.sessionCaps));
    session.bootMode = 1;
    for (std::uint8_t i = 0; i < 16; ++i) {
        EXPECT_TRUE(session.WriteRecord(Record(static_cast<std::uint16_t>(0x2200 + 0x20 * i), {i})))
            << "record " << int{i};
    }
}

// A schedule counts from the family's start: off the bus until the plug-in, pulled out and back;
// plugged in again after an erase it runs its boot loader, after a start its application, at
// its own port each time. The word of it comes once per change.
TEST(PluggedFamily, FollowsItsScheduleAndTellsEachChangeOnce) {
    VirtualClock clock(5000);
    FamilyDeviceConfig config = FamilyDeviceConfig::ForModel(0x1F02, kPort);
    config.plugMs = {1000, 6000, 9000};
    config.unplugMs = {4000, 8000};
    config.faults.returnLocationPath = "P9";
    SimulatedFamily family({config}, clock);
    SimArrivals arrivals(family);
    FamilyDevice& device = *family.devices()[0];
    std::optional<SimInterface> shown;
    const auto look = [&] {
        return shown = device.Interface(clock.TickCount()), shown.has_value();
    };
    const auto command = [&](std::size_t length, family::Command c) {
        std::vector<std::uint8_t> report(length, 0);
        report[0] = family::kOutputReportId;
        report[1] = family::kPreamble0;
        report[2] = family::kPreamble1;
        report[3] = c.command;
        report[4] = c.subcommand;
        return device.OutputReport(clock.TickCount(), report);
    };

    EXPECT_EQ(family.NextPlugChange(clock.TickCount()), 6000u);
    EXPECT_FALSE(look());
    EXPECT_TRUE(arrivals.Wait(5000, true));  // wakes at the plug-in, not at the time-out
    EXPECT_EQ(clock.TickCount(), 6000u);
    ASSERT_TRUE(look());
    EXPECT_EQ(shown->productId, 0x1F02);
    const std::uint32_t first = shown->generation;

    // Switched to its boot loader (at another port) and erased, then pulled out.
    ASSERT_TRUE(command(config.appCaps.outputReportByteLength, family::kEnterDownload));
    clock.Sleep(config.switchMs);
    ASSERT_TRUE(look());
    EXPECT_EQ(shown->locationPath, "P9");
    ASSERT_TRUE(command(config.bootCaps.outputReportByteLength, family::kEraseStart));
    EXPECT_FALSE(arrivals.Wait(10, true));  // a re-enumeration is no plug-in
    EXPECT_TRUE(arrivals.Wait(2000, true));
    EXPECT_EQ(clock.TickCount(), 9000u);
    EXPECT_FALSE(look());

    clock.Sleep(2000);
    ASSERT_TRUE(look());
    EXPECT_EQ(shown->productId, family::kBootLoaderProductId);
    EXPECT_EQ(shown->locationPath, kPort);
    EXPECT_NE(shown->generation, first);
    EXPECT_TRUE(arrivals.Wait(0, true));
    EXPECT_FALSE(arrivals.Wait(0, true));  // told once

    // Two changes between waits are one word; after the last, none is left.
    clock.Sleep(3000);
    EXPECT_TRUE(arrivals.Wait(0, true));
    EXPECT_FALSE(family.NextPlugChange(clock.TickCount()));
    ASSERT_TRUE(look());
    EXPECT_EQ(shown->productId, family::kBootLoaderProductId);
    EXPECT_FALSE(arrivals.Wait(3000, true));
    EXPECT_EQ(clock.TickCount(), 17000u);
}

}  // namespace
}  // namespace torvane::sim
