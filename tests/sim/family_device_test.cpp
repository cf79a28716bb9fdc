#include "sim/family_device.h"

#include <gtest/gtest.h>

#include "protocol/device_session.h"
#include "protocol/family.h"
#include "sim/sim_arrivals.h"
#include "sim/simulated_family.h"
#include "sim/virtual_clock.h"
#include "support/recording_messages.h"
#include "support/records.h"

namespace torvane::sim {
namespace {

using test::Record;

constexpr const char* kPort = "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)";

// The family's first interface opened into session, as the engine opens a listed device.
void Open(SimulatedFamily& simulated, DeviceSession& session) {
    const std::vector<BusEntry> entries = simulated.bus().Enumerate(kHidClassGuid);
    ASSERT_EQ(entries.size(), 1u);
    SystemError error;
    session.sessionHandle = simulated.bus().Open(entries[0].devicePath, error);
    ASSERT_TRUE(simulated.hid().GetAttributes(session.sessionHandle, session.sessionAttributes));
    ASSERT_TRUE(simulated.hid().GetCaps(session.sessionHandle, session.sessionCaps));
    session.bootMode = session.sessionAttributes.productId == family::kBootLoaderProductId;
}

FamilyDeviceConfig BootLoader(std::uint16_t productId) {
    FamilyDeviceConfig config = FamilyDeviceConfig::ForModel(productId, kPort);
    config.startInBootLoader = true;
    return config;
}

TEST(FamilyDevice, WritesNeedAnErasedFlashAndReportsTheAnnouncedLength) {
    VirtualClock clock;
    SimulatedFamily family({BootLoader(0x1F10)}, clock);
    test::RecordingMessages messages;
    DeviceSession session(family.hid(), clock, messages);
    Open(family, session);
    EXPECT_TRUE(session.WriteRecord(Record(0x2200, {0x0F})));
    // Programming clears bits only: 0x0F over 0x0F reads back 0x0F, 0xF0 then reads 0x00.
    EXPECT_FALSE(session.WriteRecord(Record(0x2200, {0xF0})));
    EXPECT_EQ(family.devices()[0]->flash()[0x2200], 0x00);
    // The boot loader's reports are 40 bytes long; no other length passes either way.
    std::array<std::uint8_t, 64> longReport{0x03, 0x7E, 0x5A, 0x02, 0x04};
    SystemError error;
    EXPECT_FALSE(family.hid().SetOutputReport(session.sessionHandle, longReport, error));
    longReport[0] = 0x01;
    EXPECT_FALSE(family.hid().GetInputReport(session.sessionHandle, longReport, error));
}

TEST(FamilyDevice, HandlesGoStaleWhenTheDeviceReenumerates) {
    VirtualClock clock;
    SimulatedFamily family({FamilyDeviceConfig::ForModel(0x1F01, kPort)}, clock);
    test::RecordingMessages messages;
    DeviceSession session(family.hid(), clock, messages);
    Open(family, session);
    const DeviceHandle application = session.sessionHandle;
    const std::string applicationPath = family.bus().Enumerate(kHidClassGuid)[0].devicePath;
    session.EnterDownloadMode();
    EXPECT_TRUE(family.bus().Enumerate(kHidClassGuid).empty());  // off the bus for 1500 ms
    clock.Sleep(500);
    Open(family, session);
    EXPECT_EQ(session.bootMode, 1);
    HidAttributes attributes;
    EXPECT_FALSE(family.hid().GetAttributes(application, attributes));
    EXPECT_TRUE(family.hid().GetAttributes(session.sessionHandle, attributes));
    EXPECT_TRUE(family.bus().Close(application));
    EXPECT_FALSE(family.bus().Close(application));
    SystemError error;
    EXPECT_FALSE(family.bus().Open(applicationPath, error));  // that interface is gone
}

// The host's tick counter over real time in steps of 16 ms, as GetTickCount moves on Windows.
class SixteenMsTicks final : public Clock {
public:
    std::uint32_t TickCount() override { return SystemClock().TickCount() & ~15u; }
    void Sleep(std::uint32_t ms) override { SystemClock().Sleep(ms); }
};

TEST(RealTimeFamily, KeepsItsEchoPromiseOnAHostWhoseTicksMoveIn16MsSteps) {
    SixteenMsTicks host;
    FamilyDeviceConfig config = BootLoader(0x1F10);
    config.echoMs = family::kWriteEchoWaitMs;  // ready just as the host's wait ends
    SimulatedFamily simulated({config});
    test::RecordingMessages messages;
    DeviceSession session(simulated.hid(), host, messages);
    Open(simulated, session);
    for (std::uint8_t i = 0; i < 16; ++i) {
        EXPECT_TRUE(session.WriteRecord(Record(static_cast<std::uint16_t>(0x2200 + 0x20 * i), {i})))
            << "record " << int{i};
    }
}

// A schedule counts from the family's start: off the bus until the plug-in, pulled out and back;
// plugged in again after an erase it runs its boot loader, at its own port. The word of it comes
// once per change.
TEST(PluggedFamily, FollowsItsScheduleAndTellsEachChangeOnce) {
    VirtualClock clock(5000);
    FamilyDeviceConfig config = FamilyDeviceConfig::ForModel(0x1F02, kPort);
    config.plugMs = {1000, 6000};
    config.unplugMs = {4000};
    SimulatedFamily family({config}, clock);
    SimArrivals arrivals(family);
    FamilyDevice& device = *family.devices()[0];
    const auto shown = [&] { return device.Interface(clock.TickCount()); };
    const auto command = [&](std::size_t length, family::Command c) {
        std::vector<std::uint8_t> report{family::kOutputReportId, family::kPreamble0,
                                         family::kPreamble1, c.command, c.subcommand};
        report.resize(length);  // zeros after the command
        return device.OutputReport(clock.TickCount(), report);
    };

    EXPECT_EQ(family.NextPlugChange(clock.TickCount()), 6000u);
    EXPECT_FALSE(shown());
    EXPECT_TRUE(arrivals.Wait(5000, true));  // wakes at the plug-in, not at the time-out
    EXPECT_EQ(clock.TickCount(), 6000u);
    ASSERT_TRUE(shown());
    EXPECT_EQ(shown()->productId, 0x1F02);
    const std::uint32_t first = shown()->generation;

    // Switched to its boot loader and erased, then pulled out.
    ASSERT_TRUE(command(config.appCaps.outputReportByteLength, family::kEnterDownload));
    clock.Sleep(config.switchMs);
    ASSERT_TRUE(shown());
    ASSERT_TRUE(command(config.bootCaps.outputReportByteLength, family::kEraseStart));
    EXPECT_FALSE(arrivals.Wait(10, true));  // a re-enumeration is no plug-in
    EXPECT_TRUE(arrivals.Wait(2000, true));
    EXPECT_EQ(clock.TickCount(), 9000u);
    EXPECT_FALSE(shown());

    clock.Sleep(2000);
    ASSERT_TRUE(shown());
    EXPECT_EQ(shown()->productId, family::kBootLoaderProductId);
    EXPECT_EQ(shown()->locationPath, kPort);
    EXPECT_NE(shown()->generation, first);
    EXPECT_TRUE(arrivals.Wait(0, true));
    EXPECT_FALSE(arrivals.Wait(0, true));  // told once
    EXPECT_FALSE(family.NextPlugChange(clock.TickCount()));
    EXPECT_FALSE(arrivals.Wait(3000, true));
    EXPECT_EQ(clock.TickCount(), 14000u);
}

}  // namespace
}  // namespace torvane::sim
