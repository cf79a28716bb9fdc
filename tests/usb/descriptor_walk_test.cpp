#include <algorithm>
#include <memory>
#include <random>

#include <gtest/gtest.h>

#include "usb/text_error.h"
#include "usb/usb_bos_object.h"
#include "usb/usb_configuration.h"
#include "usb/usb_control_endpoint.h"
#include "usb/usb_isoc_endpoint.h"
#include "usb_test_support.h"

namespace torvane {
namespace {

using test::Bytes;
using test::Companion;
using test::Endpoint;

Bytes Interface(std::uint8_t number, std::uint8_t alternate, std::uint8_t endpoints) {
    return {9, 4, number, alternate, endpoints, 0x03, 0x00, 0x00, 0};
}

Bytes ClassSpecific(std::uint8_t length) {
    Bytes descriptor(length, 0);
    descriptor[0] = length;
    descriptor[1] = 0x21;
    return descriptor;
}

// head, then the descriptors, with the total length at offset 2; built without spare capacity,
// so that the sanitizer sees a read just past the end.
Bytes Block(Bytes head, const std::vector<Bytes>& descriptors) {
    for (const Bytes& descriptor : descriptors) {
        head.insert(head.end(), descriptor.begin(), descriptor.end());
    }
    head[2] = static_cast<std::uint8_t>(head.size());
    head[3] = static_cast<std::uint8_t>(head.size() >> 8);
    return Bytes(head.begin(), head.end());
}

Bytes Configuration(const std::vector<Bytes>& descriptors) {
    return Block({9, 2, 0, 0, 1, 1, 0, 0x80, 50}, descriptors);
}

Bytes Bos(std::uint8_t capabilities, const std::vector<Bytes>& descriptors) {
    return Block({5, 0x0F, 0, 0, capabilities}, descriptors);
}

const Bytes kUsb20Extension{7, 0x10, 2, 0x1E, 0xF4, 0x00, 0x01};
const Bytes kSuperSpeedUsb{10, 0x10, 3, 0x00, 0x0E, 0x00, 0x01, 0x0A, 0xFF, 0x07};
const Bytes kContainerId{20, 0x10, 4, 0, 0xA0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0xAF};

class DescriptorWalkTest : public ::testing::Test {
protected:
    std::unique_ptr<CUsbConfiguration> Build(const Bytes& block, bool superSpeedWalk = false) {
        return std::make_unique<CUsbConfiguration>(device, DeviceHandle{0x40}, block,
                                                   superSpeedWalk);
    }
    test::FakeDevice device;
};

TEST_F(DescriptorWalkTest, HidConfigurationPassesOverItsClassDescriptor) {
    const auto configuration = Build(Configuration(
        {Interface(0, 0, 2), ClassSpecific(9), Endpoint(0x81, 3, 64), Endpoint(0x01, 3, 64)}));
    EXPECT_EQ(configuration->wTotalLength, 41);
    ASSERT_EQ(configuration->interfaceCount, 1);
    const CUsbInterface& hid = *configuration->interfaces[0];
    EXPECT_EQ(hid.altSettingCount, 1);
    EXPECT_EQ(hid.spanLength, 32);
    for (std::size_t k = 0; k < hid.endpoints.size(); ++k) {
        EXPECT_EQ(dynamic_cast<CUsbInterruptEndPoint*>(hid.endpoints[k]) != nullptr,
                  k == 1 || k == 2);
        EXPECT_EQ(hid.endpoints[k] != nullptr, k == 1 || k == 2) << k;
    }
    EXPECT_EQ(hid.endpoints[2]->bEndpointAddress, 0x01);
}

TEST_F(DescriptorWalkTest, AlternateSettingsAreCountedPerInterfaceNumber) {
    const auto configuration = Build(Configuration({
        Interface(0, 0, 0),
        Interface(0, 1, 3),
        Endpoint(0x81, 1, 1024),
        Endpoint(0x02, 2, 512),
        Endpoint(0x03, 0, 64),
        Interface(1, 0, 2),
        Endpoint(0x84, 5, 1024),
        Endpoint(0x85, 1, 512),
    }));
    ASSERT_EQ(configuration->interfaceCount, 3);
    const auto& settings = configuration->interfaces;
    EXPECT_EQ(settings[0]->altSettingCount, 2);
    EXPECT_EQ(settings[1]->altSettingCount, 2);
    EXPECT_EQ(settings[2]->altSettingCount, 1);
    EXPECT_NE(dynamic_cast<CUsbIsocEndPoint*>(settings[1]->endpoints[1]), nullptr);
    EXPECT_NE(dynamic_cast<CUsbBulkEndPoint*>(settings[1]->endpoints[2]), nullptr);
    EXPECT_NE(dynamic_cast<CUsbControlEndPoint*>(settings[1]->endpoints[3]), nullptr);
    // Isochronous with synchronisation bits: no object, but the ordinal is used.
    EXPECT_EQ(settings[2]->endpoints[1], nullptr);
    EXPECT_EQ(settings[2]->endpoints[2]->bEndpointAddress, 0x85);

    std::vector<Bytes> nine(9, Interface(0, 0, 0));
    EXPECT_EQ(Build(Configuration(nine))->interfaceCount, 8);
    // An interface claiming more endpoints than it has takes the next interface's along.
    const auto greedy = Build(Configuration(
        {Interface(0, 0, 2), Endpoint(0x81, 3, 64), Interface(1, 0, 1), Endpoint(0x82, 3, 64)}));
    EXPECT_EQ(greedy->interfaceCount, 1);
    EXPECT_EQ(greedy->interfaces[0]->endpoints[2]->bEndpointAddress, 0x82);
}

TEST_F(DescriptorWalkTest, SuperSpeedWalkTakesCompanionsAfterEndpoints) {
    const auto configuration =
        Build(Configuration({Interface(0, 0, 3), ClassSpecific(5), Endpoint(0x81, 2, 1024),
                             Companion(15, 0), Endpoint(0x02, 2, 1024), Companion(3, 0),
                             Endpoint(0x83, 3, 64)}),
              true);
    const CUsbInterface& setting = *configuration->interfaces[0];
    EXPECT_EQ(setting.spanLength, 9 + 5 + 7 + 6 + 7 + 6 + 7);
    ASSERT_NE(dynamic_cast<CUsbBulkEndPoint*>(setting.endpoints[1]), nullptr);
    EXPECT_EQ(setting.endpoints[1]->maxPacketSize, 16384);
    EXPECT_EQ(setting.endpoints[2]->bMaxBurst, 3);
    // The last endpoint ends the block and has no companion.
    EXPECT_EQ(setting.endpoints[3]->companionLength, 0);
}

TEST_F(DescriptorWalkTest, TwelfthClassDescriptorUsesOrdinals) {
    std::vector<Bytes> descriptors{Interface(0, 0, 2)};
    descriptors.insert(descriptors.end(), 11, ClassSpecific(3));
    descriptors.insert(descriptors.end(),
                       {ClassSpecific(20), Endpoint(0x81, 2, 512), Endpoint(0x02, 2, 512)});
    const Bytes block = Configuration(descriptors);
    // Plain: the walk stays on the twelfth and counts it once per ordinal left.
    const auto plain = Build(block);
    ASSERT_EQ(plain->interfaceCount, 1);
    EXPECT_EQ(plain->interfaces[0]->spanLength, 9 + 33 + 20 + 20);
    EXPECT_EQ(std::ranges::count(plain->interfaces[0]->endpoints, nullptr), 32);
    // SuperSpeed: the walk moves on, so the first endpoint takes the second ordinal.
    const auto super = Build(block, true);
    EXPECT_EQ(super->interfaces[0]->spanLength, 9 + 33 + 20 + 7);
    EXPECT_EQ(super->interfaces[0]->endpoints[1], nullptr);
    EXPECT_EQ(super->interfaces[0]->endpoints[2]->bEndpointAddress, 0x81);
}

TEST_F(DescriptorWalkTest, DestroyingAConfigurationLeavesTheDevicesControlEndpointAlone) {
    auto configuration = Build(Configuration({Interface(0, 0, 0), Interface(0, 1, 0)}));
    auto control = std::make_unique<CUsbControlEndPoint>(device, DeviceHandle{0x40}, nullptr);
    configuration->interfaces[0]->endpoints[0] = control.get();
    configuration->interfaces[1]->endpoints[0] = control.get();
    configuration.reset();
    control->timeoutMs = 1;  // the sanitizer reports a use or a release after a release
}

TEST(BosObject, RecordsKnownCapabilitiesUntilAnUnknownOne) {
    const CUsbBosObject all(Bos(3, {kContainerId, kSuperSpeedUsb, kUsb20Extension}));
    ASSERT_TRUE(all.containerId && all.superSpeedUsb && all.usb20Extension);
    EXPECT_EQ(all.usb20Extension->bmAttributes, 0x0100F41Eu);
    EXPECT_EQ(all.superSpeedUsb->wSpeedsSupported, 0x0E);
    EXPECT_EQ(all.superSpeedUsb->wU2DevExitLat, 0x07FF);
    EXPECT_EQ(all.containerId->ContainerID[0], 0xA0);
    EXPECT_EQ(all.containerId->ContainerID[15], 0xAF);

    Bytes unknown = kUsb20Extension;
    unknown[2] = 5;
    const CUsbBosObject first(Bos(2, {unknown, kSuperSpeedUsb}));
    EXPECT_FALSE(first.containerId || first.superSpeedUsb || first.usb20Extension);
    unknown[2] = 10;
    const CUsbBosObject last(Bos(4, {kContainerId, kUsb20Extension, unknown, kSuperSpeedUsb}));
    EXPECT_TRUE(last.containerId && last.usb20Extension && !last.superSpeedUsb);
    Bytes later = kUsb20Extension;
    later[3] = 0x02;
    EXPECT_EQ(CUsbBosObject(Bos(2, {kUsb20Extension, later})).usb20Extension->bmAttributes,
              0x0100F402u);
}

TEST(BosObject, StopsOnceCapabilitiesOutrunTheTotalLength) {
    Bytes block = Bos(2, {kUsb20Extension, kSuperSpeedUsb});
    block[2] = 4;  // shorter than the BOS descriptor itself
    EXPECT_FALSE(CUsbBosObject(block).usb20Extension);
    block[2] = 5 + 7;  // the second capability runs past it but is still recorded
    EXPECT_TRUE(CUsbBosObject(block).superSpeedUsb);
    block[2] = 5 + 5;  // the first already runs past: the walk stops after it
    const CUsbBosObject stopped(block);
    EXPECT_TRUE(stopped.usb20Extension && !stopped.superSpeedUsb);
}

TEST_F(DescriptorWalkTest, BlocksThatWouldLeadAWalkOutsideThemAreRefused) {
    const Bytes valid = Configuration({Interface(0, 0, 1), Endpoint(0x81, 3, 64)});
    auto with = [&](std::size_t offset, std::uint8_t value) {
        Bytes block = valid;
        block[offset] = value;
        return block;
    };
    const Bytes shortCompanion =
        Configuration({Interface(0, 0, 1), Endpoint(0x81, 2, 64), {5, 0x30, 0, 0, 0}});
    EXPECT_NO_THROW(Build(shortCompanion, false));
    // Short configuration, block shorter than wTotalLength, descriptors of length 0 or too short
    // for their kind, more endpoints than present or allowed, a descriptor past the end.
    for (const Bytes& block :
         {Bytes(valid.begin(), valid.begin() + 8), Bytes(valid.begin(), valid.end() - 1),
          with(2, 26), with(0, 8), with(9, 0), with(9, 8), with(13, 2), with(13, 32), with(18, 6),
          shortCompanion, Configuration({Interface(0, 0, 0), {5, 0x30}})}) {
        EXPECT_THROW(Build(block, true), TextError);
    }
    for (const Bytes& block : {Bytes{5, 0x0F, 5, 0}, Bos(2, {kUsb20Extension}),
                               Bos(1, {Bytes(kUsb20Extension.begin(), kUsb20Extension.end() - 1)}),
                               Bos(1, {{6, 0x10, 2, 0, 0, 0}})}) {
        EXPECT_THROW(CUsbBosObject{block}, TextError);
    }
}

// Random bytes, truncations and mutations of valid blocks: each builds or is refused with a text
// error, and the sanitizers see every read stay inside the block.
TEST_F(DescriptorWalkTest, MalformedBlocksBuildOrThrowTextError) {
    const Bytes valid[] = {
        Configuration(
            {Interface(0, 0, 2), ClassSpecific(9), Endpoint(0x81, 3, 64), Endpoint(0x01, 3, 64)}),
        Configuration({Interface(0, 0, 2), Endpoint(0x81, 2, 1024), Companion(15, 0),
                       Endpoint(0x02, 1, 1024), Companion(3, 2), Interface(0, 1, 0)}),
        Bos(3, {kContainerId, kSuperSpeedUsb, kUsb20Extension})};
    std::mt19937 random(20240611);
    for (int round = 0; round < 15000; ++round) {
        Bytes block = valid[round % 3];
        if (round % 9 < 3) {
            block.resize(random() % 64);
            for (std::uint8_t& byte : block) {
                byte = static_cast<std::uint8_t>(random() % 4 == 0 ? random() % 12 : random());
            }
        } else if (round % 9 < 6) {
            block.resize(random() % block.size());
        } else {
            for (int n = 1 + random() % 4; n > 0; --n) {
                block[random() % block.size()] = static_cast<std::uint8_t>(random() % 64);
            }
        }
        const Bytes exact(block.begin(), block.end());
        try {
            if (round % 3 == 2) {
                CUsbBosObject{exact};
            } else {
                Build(exact, round % 2 == 0);
            }
        } catch (const TextError&) {
        }
    }
}

}  // namespace
}  // namespace torvane
