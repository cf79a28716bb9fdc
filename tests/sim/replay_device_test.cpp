#include "sim/replay_device.h"

#include <sstream>

#include <gtest/gtest.h>

#include "protocol/report_log.h"
#include "sim/sim_hid_class.h"
#include "sim/virtual_bus.h"
#include "sim/virtual_clock.h"

namespace torvane::sim {
namespace {

constexpr const char* kPort = "P1";

// Two appearances: an application of 8-byte reports whose host read one reply in 45 ms (a
// slow read, as the VM test's host had one) and one 400 ms late and then switched it, and
// 1600 ms later a boot loader of 4-byte reports.
constexpr const char* kLog =
    "0 DEVICE 3A7D:1F02 IN 8 OUT 8\n"
    "0 OUT 03 7E 5A 02 04 00 00 00\n"
    "45 IN 01 7E 5A 04 03 01 00 00\n"
    "50 OUT 03 7E 5A 02 02 00 00 00\n"
    "450 IN 01 7E 5A 02 01 00 00 00\n"
    "460 OUT 03 7E 5A 0F 00 00 00 00\n"
    "2060 DEVICE 3A7D:1F00 IN 4 OUT 4\n"
    "2060 OUT 03 7E 5A 01\n";

class ReplayDeviceTest : public ::testing::Test {
protected:
    ReplayDeviceTest() {
        std::istringstream in(kLog);
        std::string error;
        auto source = std::make_shared<ReplaySource>(ReplaySource{"test.log", {}});
        source->session = *ReadReportLog(in, error);
        device = std::make_shared<ReplayDevice>(source, kPort, clock.TickCount());
        bus.Attach(device);
        handle = Open();
    }

    DeviceHandle Open() {
        const std::vector<BusEntry> entries = bus.Enumerate(kHidClassGuid);
        SystemError error;
        return entries.empty() ? DeviceHandle{} : bus.Open(entries.front().devicePath, error);
    }
    bool Send(std::vector<std::uint8_t> report) {
        SystemError error;
        return hid.SetOutputReport(handle, report, error);
    }
    std::optional<std::vector<std::uint8_t>> Read(std::size_t length) {
        std::vector<std::uint8_t> report(length, 0);
        report[0] = 0x01;
        SystemError error;
        return hid.GetInputReport(handle, report, error) ? std::optional(report) : std::nullopt;
    }

    VirtualClock clock;
    VirtualBus bus{clock};
    SimHidClass hid{bus};
    std::shared_ptr<ReplayDevice> device;
    DeviceHandle handle;
};

TEST_F(ReplayDeviceTest, PlaysTheLogAndComesBackAsItsNextDeviceAtItsPort) {
    HidCaps caps;
    ASSERT_TRUE(hid.GetCaps(handle, caps));
    EXPECT_EQ(caps.inputReportByteLength, 8);
    // Nothing answers before its report: the log holds no answer there.
    EXPECT_FALSE(Read(8));
    ASSERT_TRUE(Send({0x03, 0x7E, 0x5A, 0x02, 0x04, 0, 0, 0}));
    EXPECT_EQ(Read(8), (std::vector<std::uint8_t>{0x01, 0x7E, 0x5A, 0x04, 0x03, 0x01, 0, 0}));
    ASSERT_TRUE(Send({0x03, 0x7E, 0x5A, 0x02, 0x02, 0, 0, 0}));
    clock.Sleep(400);
    EXPECT_TRUE(Read(8));
    ASSERT_TRUE(Send({0x03, 0x7E, 0x5A, 0x0F, 0x00, 0, 0, 0}));
    // The log found it 1600 ms later; it is back by the host's first look, 1000 ms later.
    EXPECT_TRUE(bus.Enumerate(kHidClassGuid).empty());
    clock.Sleep(999);
    EXPECT_TRUE(bus.Enumerate(kHidClassGuid).empty());
    clock.Sleep(1);
    const std::vector<BusEntry> back = bus.Enumerate(kHidClassGuid);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back.front().locationPath, kPort);
    handle = Open();
    HidAttributes attributes;
    ASSERT_TRUE(hid.GetAttributes(handle, attributes));
    EXPECT_EQ(attributes.productId, 0x1F00);
    EXPECT_NE(device->Problem(), "");  // its last report is still to come
    ASSERT_TRUE(Send({0x03, 0x7E, 0x5A, 0x01}));
    EXPECT_EQ(device->Problem(), "");
    EXPECT_FALSE(Send({0x03, 0x7E, 0x5A, 0x01}));
    EXPECT_EQ(device->Problem(),
              "replay of 'test.log' stopped: the log ends at line 8; the program sent OUT 03 7E "
              "5A 01");
}

TEST_F(ReplayDeviceTest, AReportOtherThanTheLogsStopsItForGood) {
    EXPECT_FALSE(Send({0x03, 0x7E, 0x5A, 0x02, 0x04, 0, 0, 0x01}));
    EXPECT_EQ(device->Problem(),
              "replay of 'test.log' stopped: line 2: expected OUT 03 7E 5A 02 04 00 00 00; the "
              "program sent OUT 03 7E 5A 02 04 00 00 01 (they differ from byte 7)");
    EXPECT_FALSE(Send({0x03, 0x7E, 0x5A, 0x02, 0x04, 0, 0, 0}));
    EXPECT_FALSE(Read(8));
}

TEST_F(ReplayDeviceTest, AReplyReadSoonerThanTheLogsDeviceGaveItIsRefused) {
    ASSERT_TRUE(Send({0x03, 0x7E, 0x5A, 0x02, 0x04, 0, 0, 0}));
    ASSERT_TRUE(Read(8));
    ASSERT_TRUE(Send({0x03, 0x7E, 0x5A, 0x02, 0x02, 0, 0, 0}));
    clock.Sleep(10);
    EXPECT_FALSE(Read(8));
    EXPECT_EQ(device->Problem(),
              "replay of 'test.log' stopped: line 5: the program read 10 ms after the report "
              "before; the log's device answered after 400 ms");
}

TEST_F(ReplayDeviceTest, AReadOfAnotherLengthThanTheLogsStopsIt) {
    ASSERT_TRUE(Send({0x03, 0x7E, 0x5A, 0x02, 0x04, 0, 0, 0}));
    EXPECT_FALSE(Read(4));
    EXPECT_EQ(device->Problem(),
              "replay of 'test.log' stopped: line 3: the program read 4 bytes; the log's device "
              "answered 8");
}

// An appearance leaves after its last report: at the start when it has none, after the read
// when that is a reply.
TEST(ReplayDevice, LeavesAfterItsLastReportAtTheStartOrAfterAReply) {
    std::istringstream in(
        "0 DEVICE 3A7D:1F00 IN 4 OUT 4\n100 DEVICE 3A7D:1F02 IN 4 OUT 4\n100 OUT 03 7E 5A 02\n"
        "110 IN 01 7E 5A 04\n400 DEVICE 3A7D:1F00 IN 4 OUT 4\n400 OUT 03 7E 5A 01\n");
    std::string error;
    auto source =
        std::make_shared<ReplaySource>(ReplaySource{"short.log", *ReadReportLog(in, error)});
    ReplayDevice device(source, kPort, 0);
    std::lock_guard lock(device.mutex());
    EXPECT_FALSE(device.Interface(0));
    ASSERT_TRUE(device.Interface(100));
    const std::uint8_t request[] = {0x03, 0x7E, 0x5A, 0x02};
    ASSERT_TRUE(device.OutputReport(100, request));
    std::uint8_t reply[4] = {0x01};
    ASSERT_TRUE(device.InputReport(110, reply));
    EXPECT_FALSE(device.Interface(110));
    EXPECT_EQ(device.Interface(400)->productId, 0x1F00);
}

}  // namespace
}  // namespace torvane::sim
