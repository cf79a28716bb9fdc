// The Linux backends: a scan on a umockdev test bed, location paths and the order of names, the
// descriptor walk that finds interrupt OUT endpoints, and the holders of a node. What the backends
// read of a device on a real kernel is the real-kernel test's; the udev rule is the package
// check's.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <gtest/gtest.h>

#include "discovery/device_scan.h"
#include "platform/device_interfaces.h"
#include "platform/hid_class.h"
#include "platform/linux/hid_interfaces.h"
#include "platform/linux/process_holders.h"
#include "sim/virtual_clock.h"
#include "support/hidraw_testbed.h"
#include "support/recording_messages.h"
#include "support/temp_file.h"

namespace torvane {
namespace {

using sim::FamilyDeviceConfig;

TEST(HidInterfaceNames, NamesSortNaturally) {
    struct Case {
        const char *a, *b;
        bool before;
    };
    for (const Case& c : {Case{"hidraw2", "hidraw10", true}, Case{"hidraw10", "hidraw2", false},
                          Case{"hidraw1", "hidraw1", false}, Case{"hidraw9", "hidraw09", true},
                          Case{"1-1.10:1.0", "1-1.9:1.0", false}, Case{"1-1", "1-1:1.0", true}}) {
        EXPECT_EQ(linux_hid::NaturalLess(c.a, c.b), c.before) << c.a << " " << c.b;
    }
}

TEST(HidInterfaceNames, InterruptOutEndpointOfTheCurrentSettingOnly) {
    using Bytes = std::vector<std::uint8_t>;
    const Bytes device{18, 1, 0, 2, 0, 0, 0, 64, 0, 0, 0, 0, 0, 1, 1, 2, 0, 1};
    const auto config = [](std::uint8_t value) { return Bytes{9, 2, 0, 0, 2, value, 0, 0x80, 50}; };
    const auto interface = [](std::uint8_t number, std::uint8_t alternate) {
        return Bytes{9, 4, number, alternate, 2, 3, 0, 0, 0};
    };
    const Bytes hid{9, 0x21, 0x11, 0x01, 0, 1, 0x22, 40, 0};
    const Bytes in{7, 5, 0x81, 3, 64, 0, 1};
    const Bytes out{7, 5, 0x01, 3, 64, 0, 1};
    const Bytes bulkOut{7, 5, 0x01, 2, 64, 0, 0};
    const auto join = [](std::initializer_list<Bytes> parts) {
        Bytes all;
        for (const Bytes& part : parts) {
            all.insert(all.end(), part.begin(), part.end());
        }
        return all;
    };
    const Bytes whole = join({device, config(1), interface(0, 0), hid, in, out});
    struct Case {
        const char* name;
        Bytes descriptors;
        std::uint8_t configuration, number, alternate;
        bool expected;
    };
    const Case cases[] = {
        {"interrupt OUT", whole, 1, 0, 0, true},
        {"bulk OUT", join({device, config(1), interface(0, 0), hid, in, bulkOut}), 1, 0, 0, false},
        {"other configuration", whole, 2, 0, 0, false},
        {"other setting", whole, 1, 0, 1, false},
        {"OUT of the next interface",
         join({device, config(1), interface(0, 0), in, interface(1, 0), out}), 1, 0, 0, false},
        {"zero length before the endpoint",
         join({device, config(1), interface(0, 0), Bytes{0, 5}, out}), 1, 0, 0, false},
        {"endpoint too short", join({device, config(1), interface(0, 0), Bytes{3, 5, 0x01}}), 1, 0,
         0, false},
        {"endpoint cut off", Bytes(whole.begin(), whole.end() - 2), 1, 0, 0, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(linux_hid::HasInterruptOut(c.descriptors, c.configuration, c.number, c.alternate),
                  c.expected)
            << c.name;
    }
}

// Of the processes that have a node open, only one that has it open for writing may hold a claim
// through it; each is found by its descriptors' links.
TEST(ProcessHolders, OnlyAProcessWithTheNodeOpenForWritingHoldsIt) {
    const test::TempFile node("", ".node");
    // A child that holds the node open with flags until it is killed.
    const auto holder = [&node](int flags) {
        const int fd = ::open(node.path().c_str(), flags);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::pause();
            ::_exit(0);
        }
        ::close(fd);
        return pid;
    };
    const pid_t holders[] = {holder(O_RDONLY), holder(O_RDWR)};
    EXPECT_EQ(linux_hid::ProcessesHolding(node.path()), std::vector<int>{holders[1]});
    for (const pid_t pid : holders) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
}

class HidrawBackendTest : public ::testing::Test {
protected:
    sim::VirtualClock clock;
    test::HidrawTestbed bed{clock};
    DeviceInterfaces& interfaces = SystemDeviceInterfaces();
    HidClass& hid = SystemHidClass();
};

// A scan lists the interfaces once and reads each one it opens by itself: its cost grows with
// the devices on the bus, not with their square. It opens no node: one that does not open is
// listed. The devices come in port order, whatever numbers their hidraw nodes got, each at the
// location udev would name, which udev has not.
TEST_F(HidrawBackendTest, AScanListsTheInterfacesOnceAndOpensNoNode) {
    for (const int port : {3, 1, 4, 2}) {
        bed.AddFamilyDevice(FamilyDeviceConfig::ForModel(0x1F02, ""), port);
    }
    bed.AddMouse(5);
    bed.BreakNode(2);
    test::RecordingMessages messages;
    const std::uint64_t before = linux_hid::ListingCount();
    const DeviceTable table = ScanDevices(interfaces, hid, messages);
    EXPECT_EQ(linux_hid::ListingCount() - before, 1u);
    ASSERT_EQ(table.size(), 4u);
    for (int port = 1; port <= 4; ++port) {
        EXPECT_EQ(table[port - 1].location, test::HidrawTestbed::IdPath(port));
    }
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_TRUE(interfaces.Enumerate(Guid{1, 2, 3, {}})->empty());
}

}  // namespace
}  // namespace torvane
