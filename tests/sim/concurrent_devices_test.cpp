// Several update runs at once on one simulated bus, each on its own thread with its own device
// session and its own device: every device ends with exactly what was written to it, also when
// another thread pulls one device's cable in the middle of its run.
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/records.h"

#include "protocol/device_session.h"
#include "protocol/family.h"
#include "sim/simulated_family.h"
#include "sim/virtual_clock.h"
#include "support/recording_messages.h"

namespace torvane::sim {
namespace {

struct Case {
    const char* name;
    bool realTime;
    int devices;
    int records;
    bool unplugLastWhileErasing;
};

std::string Port(int device) {
    return "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(" + std::to_string(device + 1) + ")";
}

// Each device gets its own addresses and bytes, so that a write that reached another device
// shows in that device's flash.
ImageRecord RecordFor(int device, int k) {
    return test::Record(static_cast<std::uint16_t>(0x2000 + device * 0x800 + k * 0x20),
                        std::vector<std::uint8_t>(32, static_cast<std::uint8_t>(device * 32 + k)));
}

// Opens the interface at location through the seams, as the engine does after a scan.
bool OpenAt(SimulatedFamily& family, const std::string& location, DeviceSession& session) {
    const std::optional<std::vector<InterfaceEntry>> entries =
        family.interfaces().Enumerate(kHidClassGuid);
    for (const InterfaceEntry& entry : *entries) {
        if (entry.locationPaths->c_str() == location) {
            SystemError error;
            session.sessionHandle = family.interfaces().Open(*entry.devicePath, error);
            if (!family.hid().GetAttributes(session.sessionHandle, session.sessionAttributes) ||
                !family.hid().GetCaps(session.sessionHandle, session.sessionCaps)) {
                return false;
            }
            session.bootMode = session.sessionAttributes.productId == family::kBootLoaderProductId;
            return true;
        }
    }
    return false;
}

// One update run of the device: download mode, the boot loader at the same port, erase, the
// records, run. False at the first step that fails.
bool Update(SimulatedFamily& family, Clock& clock, int device, int records) {
    test::RecordingMessages messages;
    DeviceSession session(family.hid(), clock, messages);
    SystemError error;
    if (!OpenAt(family, Port(device), session) || session.bootMode != 0) {
        return false;
    }
    session.EnterDownloadMode();
    family.interfaces().Close(session.sessionHandle, error);
    bool found = false;
    for (int attempt = 0; attempt < 40 && !found; ++attempt) {
        clock.Sleep(family::kScanIntervalMs);
        found = OpenAt(family, Port(device), session) && session.bootMode == 1;
    }
    if (!found || !session.EraseFirmware()) {
        return false;
    }
    for (int k = 0; k < records; ++k) {
        if (!session.WriteRecord(RecordFor(device, k))) {
            return false;
        }
    }
    session.RunFirmware();
    return family.interfaces().Close(session.sessionHandle, error);
}

class ConcurrentDevicesTest : public ::testing::TestWithParam<Case> {};

TEST_P(ConcurrentDevicesTest, EachDeviceHoldsExactlyItsOwnImage) {
    const Case& c = GetParam();
    std::vector<FamilyDeviceConfig> configs;
    for (int device = 0; device < c.devices; ++device) {
        configs.push_back(FamilyDeviceConfig::ForModel(device % 2 ? 0x1F02 : 0x1F10, Port(device)));
        configs.back().switchMs = 300;
        configs.back().eraseMs = 300;
    }
    VirtualClock virtualClock;
    Clock& clock = c.realTime ? MonotonicClock() : virtualClock;
    SimulatedFamily family(configs, clock);

    std::vector<char> updated(c.devices);
    std::vector<std::thread> runs;
    for (int device = 0; device < c.devices; ++device) {
        runs.emplace_back(
            [&, device] { updated[device] = Update(family, clock, device, c.records); });
    }
    FamilyDevice& last = *family.devices().back();
    if (c.unplugLastWhileErasing) {
        for (int ms = 0; ms < 5000 && last.eraseCount() == 0; ++ms) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        last.Unplug();
    }
    for (std::thread& run : runs) {
        run.join();
    }

    for (int device = 0; device < c.devices; ++device) {
        const bool unplugged = c.unplugLastWhileErasing && device == c.devices - 1;
        const int records = unplugged ? 0 : c.records;
        std::vector<std::uint8_t> expected(kFlashSize, 0xFF);
        for (int k = 0; k < records; ++k) {
            const ImageRecord record = RecordFor(device, k);
            std::copy_n(record.data.begin(), record.length, expected.begin() + record.Address());
        }
        const FamilyDevice& sim = *family.devices()[device];
        EXPECT_EQ(updated[device], !unplugged) << "device " << device;
        EXPECT_EQ(sim.eraseCount(), 1) << "device " << device;
        EXPECT_EQ(sim.writeCount(), records) << "device " << device;
        EXPECT_TRUE(sim.flash() == expected) << "device " << device;
    }
}

INSTANTIATE_TEST_SUITE_P(Runs, ConcurrentDevicesTest,
                         ::testing::Values(Case{"VirtualTime", false, 8, 24, false},
                                           Case{"RealTime", true, 4, 3, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace torvane::sim
