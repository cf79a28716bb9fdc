#include "sim/device_list_grammar.h"

#include <algorithm>
#include <tuple>

#include <gtest/gtest.h>

namespace torvane::sim {
namespace {

std::string Port(int n) {
    return "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(" + std::to_string(n) + ")";
}

auto Fields(const FamilyDeviceConfig& c) {
    return std::tie(c.productId, c.locationPath, c.appVersion, c.identity, c.bootVersion,
                    c.startInBootLoader, c.faults.eraseNeverConfirmed, c.faults.wrongEchoAtRecord,
                    c.faults.bootLoaderNeverAppears, c.faults.returnLocationPath,
                    c.faults.unplugAtRecord, c.faults.noLocationPath,
                    c.faults.bootVersionUnanswered, c.faults.runIgnored,
                    c.faults.versionKeptAfterRun, c.plugMs, c.unplugMs, c.serial);
}

TEST(ParseDeviceList, GoodSpecsSetTheirFields) {
    const struct {
        std::string text;
        std::size_t index;  // the device checked, at the port of its place in the list
        std::uint16_t productId;
        void (*set)(FamilyDeviceConfig&);
    } cases[] = {
        {"", 0, 0x1F02, [](auto&) {}},  // the default family
        {"qmx-s,qmx-c,tzn", 2, 0x1F10, [](auto&) {}},
        {"tzn:version=0.255.007:identity=0a1B2c3D4e5F60", 0, 0x1F10,
         [](auto& c) {
             c.appVersion = {0, 255, 7, 0};
             c.identity = {{0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F, 0x60}};
         }},
        {"qmx-s:boot:bootversion=2.0.9", 0, 0x1F01,
         [](auto& c) {
             c.startInBootLoader = true;
             c.bootVersion = {'2', '0', '9'};
         }},
        {"qmx-s,tzn:location=#(" + std::string(253, 'P'), 1, 0x1F10,
         [](auto& c) { c.locationPath = "#(" + std::string(253, 'P'); }},
        {"qmx-s:fail=erase:fail=echo@4:fail=unplug@0:fail=noreturn:fail=nolocation:fail=noversion:"
         "fail=norun:fail=oldversion",
         0, 0x1F01,
         [](auto& c) {
             c.faults.eraseNeverConfirmed = true;
             c.faults.bootLoaderNeverAppears = true;
             c.faults.wrongEchoAtRecord = 4;
             c.faults.unplugAtRecord = 0;
             c.faults.noLocationPath = c.faults.bootVersionUnanswered = true;
             c.faults.runIgnored = c.faults.versionKeptAfterRun = true;
         }},
        {"qmx-c:plug=0ms/2s:unplug=1s/86400s", 0, 0x1F02,
         [](auto& c) {
             c.plugMs = {0, 2000};
             c.unplugMs = {1000, 86'400'000};
         }},
        {"tzn,qmx-s:fail=otherport", 1, 0x1F01,
         [](auto& c) { c.faults.returnLocationPath = Port(10); }},
        {"qmx-s,tzn:serial=" + std::string(125, 'S') + "~", 1, 0x1F10,
         [](auto& c) { c.serial = std::string(125, 'S') + "~"; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        const auto devices = ParseDeviceList(c.text, error);
        ASSERT_TRUE(devices.has_value()) << error;
        ASSERT_EQ(devices->size(), static_cast<std::size_t>(std::ranges::count(c.text, ',')) + 1);
        FamilyDeviceConfig expected =
            FamilyDeviceConfig::ForModel(c.productId, Port(static_cast<int>(c.index) + 1));
        expected.serial = "TVS0000" + std::to_string(c.index + 1);
        c.set(expected);
        EXPECT_EQ(Fields((*devices)[c.index]), Fields(expected));
    }
}

TEST(ParseDeviceList, BadSpecsNameThePositionAndText) {
    const std::string kTimes =
        "is not TIME[/TIME]..., each TIME a whole number of ms or s (at most a day), in "
        "increasing order";
    // One row per way to fail; the digits-only and length rules each get their boundary.
    const std::pair<std::string, std::string> cases[] = {
        {"tzn,QMX-S", "device 1: unknown model 'QMX-S'; models are qmx-s, qmx-c, tzn"},
        {"qmx-s,", "device 1: empty (two commas in a row, or one at an end)"},
        {"qmx-s:location=A:B", "device 0: unknown key 'B' (location TEXT cannot contain ':')"},
        {"qmx-s:location=", "device 0: 'location' needs a value"},
        {"qmx-s:serial=" + std::string(127, 'S'),
         "device 0: 'serial=" + std::string(127, 'S') +
             "' is not serial=TEXT, 1 to 126 printable ASCII characters"},
        {"qmx-s:serial=A B",
         "device 0: 'serial=A B' is not serial=TEXT, 1 to 126 printable ASCII "
         "characters"},
        {"qmx-s:location=" + std::string(256, 'P'),
         "device 0: 'location' is longer than 255 characters"},
        {"qmx-s:version=1.2.256", "device 0: 'version=1.2.256' is not version=A.B.C, each 0-255"},
        {"qmx-s:bootversion=01.0.2",
         "device 0: 'bootversion=01.0.2' is not bootversion=A.B.C, each 0-9"},
        {"qmx-s:fail=erase@1",
         "device 0: unknown fault 'fail=erase@1'; faults are erase, echo@K, noreturn, otherport, "
         "unplug@K, nolocation, noversion, norun, oldversion, denied@K"},
        {"qmx-s:fail=echo@2147483648",
         "device 0: 'fail=echo@2147483648' needs a write number K from 0"},
        {"qmx-s:plug=2s/2000ms", "device 0: 'plug=2s/2000ms' " + kTimes},
        {"qmx-s:plug=1s/3s:unplug=4s",
         "device 0: two plug-ins without a pull-out between them, at 3000 ms"},
        {"qmx-s:plug=1s:unplug=1000ms",
         "device 0: plugged in and pulled out at the same time, 1000 ms"},
        {"qmx-s:fail=otherport,tzn:location=PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(9)",
         "device 1: location 'PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(9)' is also used by device 0 "
         "while both are plugged in"},
        {"qmx-s:location=P:unplug=5s,tzn:location=P:plug=4s",
         "device 1: location 'P' is also used by device 0 while both are plugged in"},
    };
    for (const auto& [text, expected] : cases) {
        std::string error;
        EXPECT_FALSE(ParseDeviceList(text, error).has_value()) << text;
        EXPECT_EQ(error, expected);
    }
}

}  // namespace
}  // namespace torvane::sim
