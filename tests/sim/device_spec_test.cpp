#include "sim/device_spec.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "sim/simulated_family.h"
#include "sim/virtual_clock.h"
#include "support/temp_file.h"

namespace torvane::sim {
namespace {

std::string Port(int n) {
    return "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(" + std::to_string(n) + ")";
}

FamilyDeviceConfig Model(std::uint16_t productId, int port) {
    return FamilyDeviceConfig::ForModel(productId, Port(port));
}

void ExpectSameConfig(const FamilyDeviceConfig& actual, const FamilyDeviceConfig& expected) {
    EXPECT_EQ(actual.productId, expected.productId);
    EXPECT_EQ(actual.locationPath, expected.locationPath);
    EXPECT_EQ(actual.appVersion, expected.appVersion);
    EXPECT_EQ(actual.identity, expected.identity);
    EXPECT_EQ(actual.bootVersion, expected.bootVersion);
    EXPECT_EQ(actual.startInBootLoader, expected.startInBootLoader);
    EXPECT_EQ(actual.faults.eraseNeverConfirmed, expected.faults.eraseNeverConfirmed);
    EXPECT_EQ(actual.faults.wrongEchoAtRecord, expected.faults.wrongEchoAtRecord);
    EXPECT_EQ(actual.faults.bootLoaderNeverAppears, expected.faults.bootLoaderNeverAppears);
    EXPECT_EQ(actual.faults.returnLocationPath, expected.faults.returnLocationPath);
    EXPECT_EQ(actual.faults.unplugAtRecord, expected.faults.unplugAtRecord);
}

TEST(ParseDeviceSpecs, GoodSpecsSetTheirFields) {
    struct Case {
        const char* text;
        std::size_t count;
        std::size_t index;  // the device checked
        FamilyDeviceConfig expected;
    };
    const auto with = [](FamilyDeviceConfig config, auto set) {
        set(config);
        return config;
    };
    const Case cases[] = {
        // The default family.
        {"", 1, 0, Model(0x1F02, 1)},
        {"qmx-s", 1, 0, Model(0x1F01, 1)},
        {"qmx-s,qmx-c,tzn", 3, 2, Model(0x1F10, 3)},
        {"tzn:version=0.255.007", 1, 0,
         with(Model(0x1F10, 1),
              [](auto& c) {
                  c.appVersion = {0, 255, 7, 0};
              })},
        {"qmx-c:identity=0a1B2c3D4e5F60", 1, 0,
         with(Model(0x1F02, 1),
              [](auto& c) { c.identity = {0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F, 0x60}; })},
        {"qmx-s:boot:bootversion=2.0.9", 1, 0,
         with(Model(0x1F01, 1),
              [](auto& c) {
                  c.startInBootLoader = true;
                  c.bootVersion = {'2', '0', '9'};
              })},
        {"qmx-s,tzn:location=HUB(3)#USB(1)", 2, 1,
         with(Model(0x1F10, 2), [](auto& c) { c.locationPath = "HUB(3)#USB(1)"; })},
        {"qmx-s:fail=erase:fail=echo@4:fail=unplug@0:fail=noreturn", 1, 0,
         with(Model(0x1F01, 1),
              [](auto& c) {
                  c.faults.eraseNeverConfirmed = true;
                  c.faults.wrongEchoAtRecord = 4;
                  c.faults.unplugAtRecord = 0;
                  c.faults.bootLoaderNeverAppears = true;
              })},
        {"tzn,qmx-s:fail=otherport", 2, 1,
         with(Model(0x1F01, 2), [](auto& c) { c.faults.returnLocationPath = Port(10); })},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        const auto devices = ParseDeviceSpecs(c.text, error);
        ASSERT_TRUE(devices.has_value()) << error;
        ASSERT_EQ(devices->size(), c.count);
        ExpectSameConfig((*devices)[c.index], c.expected);
    }
}

TEST(ParseDeviceSpecs, BadSpecsNameThePositionAndText) {
    struct Case {
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        {"qmx-x", "device 0: unknown model 'qmx-x'; models are qmx-s, qmx-c, tzn"},
        {"tzn,QMX-S", "device 1: unknown model 'QMX-S'; models are qmx-s, qmx-c, tzn"},
        {"qmx-s,,tzn", "device 1: empty (two commas in a row, or one at an end)"},
        {"qmx-s,", "device 1: empty (two commas in a row, or one at an end)"},
        {"qmx-s:speed=3", "device 0: unknown key 'speed=3'"},
        {"qmx-s::boot", "device 0: unknown key ''"},
        {"qmx-s:location=A:B", "device 0: unknown key 'B' (location TEXT cannot contain ':')"},
        {"qmx-s:boot=1", "device 0: 'boot' takes no value: 'boot=1'"},
        {"qmx-s:version", "device 0: 'version' needs a value"},
        {"qmx-s:location=", "device 0: 'location' needs a value"},
        {"qmx-s:version=1.2", "device 0: 'version=1.2' is not version=A.B.C, each 0-255"},
        {"qmx-s:version=1.2.256", "device 0: 'version=1.2.256' is not version=A.B.C, each 0-255"},
        {"qmx-s:version=1.+2.3", "device 0: 'version=1.+2.3' is not version=A.B.C, each 0-255"},
        {"qmx-s:version=1..3", "device 0: 'version=1..3' is not version=A.B.C, each 0-255"},
        {"qmx-s:version=1.2.3.4", "device 0: 'version=1.2.3.4' is not version=A.B.C, each 0-255"},
        {"qmx-s:identity=0011223344556",
         "device 0: 'identity=0011223344556' is not identity= with 14 hex digits"},
        {"qmx-s:identity=00112233445G66",
         "device 0: 'identity=00112233445G66' is not identity= with 14 hex digits"},
        {"qmx-s:identity=-0112233445566",
         "device 0: 'identity=-0112233445566' is not identity= with 14 hex digits"},
        {"qmx-s:bootversion=1.10.2",
         "device 0: 'bootversion=1.10.2' is not bootversion=A.B.C, each 0-9"},
        {"qmx-s:bootversion=01.0.2",
         "device 0: 'bootversion=01.0.2' is not bootversion=A.B.C, each 0-9"},
        {"qmx-s:fail=crash",
         "device 0: unknown fault 'fail=crash'; faults are erase, echo@K, noreturn, otherport, "
         "unplug@K"},
        {"qmx-s:fail=erase@1",
         "device 0: unknown fault 'fail=erase@1'; faults are erase, echo@K, noreturn, otherport, "
         "unplug@K"},
        {"qmx-s:fail=echo@", "device 0: 'fail=echo@' needs a write number K from 0"},
        {"qmx-s:fail=unplug@-1", "device 0: 'fail=unplug@-1' needs a write number K from 0"},
        {"qmx-s:fail=echo@2147483648",
         "device 0: 'fail=echo@2147483648' needs a write number K from 0"},
        {"qmx-s:version=1.0.0:version=2.0.0", "device 0: 'version' is given twice"},
        {"qmx-s:fail=echo@1:fail=echo@2", "device 0: 'fail=echo' is given twice"},
        {"qmx-s:location=X,tzn:location=X", "device 1: location 'X' is also used by device 0"},
        {"qmx-s:fail=otherport,tzn:location=PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(9)",
         "device 1: location 'PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(9)' is also used by device 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        EXPECT_FALSE(ParseDeviceSpecs(c.text, error).has_value());
        EXPECT_EQ(error, c.error);
    }
}

// Two boot loaders, each with one record of its own in the flash.
class DumpFlashTest : public ::testing::Test {
protected:
    DumpFlashTest() {
        for (std::uint8_t n = 0; n < 2; ++n) {
            const std::vector<BusEntry> entries = family.bus().Enumerate(kHidClassGuid);
            const DeviceHandle handle = family.bus().Open(entries[n].devicePath);
            std::array<std::uint8_t, 40> record{0x03, 0x7E, 0x5A, 0x01, 0x02, 0x00, 0x30, 2};
            record[8] = 0xA0;
            record[9] = n;
            EXPECT_TRUE(family.hid().SetOutputReport(handle, record));
        }
    }
    ~DumpFlashTest() override {
        for (const auto& path : written) {
            std::error_code ignored;
            std::filesystem::remove(path, ignored);
        }
    }

    std::filesystem::path TempPath(const std::string& name) {
        written.push_back(std::filesystem::temp_directory_path() / name);
        return written.back();
    }

    void ExpectFlashOf(std::size_t device, const std::filesystem::path& path) {
        const std::vector<std::uint8_t>& flash = family.devices()[device]->flash();
        const std::string bytes = test::ReadFile(path);
        ASSERT_EQ(bytes.size(), kFlashSize);
        EXPECT_TRUE(
            std::equal(flash.begin(), flash.end(), bytes.begin(),
                       [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); }));
    }

    static std::vector<FamilyDeviceConfig> BootLoaders() {
        std::string error;
        return *ParseDeviceSpecs("qmx-s:boot,tzn:boot", error);
    }

    VirtualClock clock;
    SimulatedFamily family{BootLoaders(), clock};
    std::vector<std::filesystem::path> written;
};

TEST_F(DumpFlashTest, OneFilePerDeviceWithTheIndexField) {
    ASSERT_EQ(family.devices()[1]->flash()[0x3001], 1);
    const std::filesystem::path first = TempPath("torvane-dump-0-0.bin");
    const std::filesystem::path second = TempPath("torvane-dump-1-1.bin");
    std::string error;
    const std::string pattern =
        (std::filesystem::temp_directory_path() / "torvane-dump-{n}-{n}.bin").string();
    ASSERT_TRUE(family.DumpFlash(pattern, error)) << error;
    ExpectFlashOf(0, first);
    ExpectFlashOf(1, second);
}

TEST_F(DumpFlashTest, WithoutTheIndexFieldOnlyDeviceZero) {
    const std::filesystem::path path = TempPath("torvane-dump-single.bin");
    std::string error;
    ASSERT_TRUE(family.DumpFlash(path.string(), error)) << error;
    ExpectFlashOf(0, path);
}

TEST_F(DumpFlashTest, AFileThatCannotBeWrittenFails) {
    const std::string path =
        (std::filesystem::temp_directory_path() / "torvane-no-such-directory" / "flash-{n}.bin")
            .string();
    std::string error;
    EXPECT_FALSE(family.DumpFlash(path, error));
    EXPECT_NE(error.find("torvane-no-such-directory"), std::string::npos) << error;

    VirtualClock otherClock;
    EXPECT_FALSE(SimulatedFamily({}, otherClock).DumpFlash("unused.bin", error));
    EXPECT_EQ(error, "no simulated device to dump");
}

}  // namespace
}  // namespace torvane::sim
