#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "support/usb_fakes.h"
#include "usb/text_error.h"
#include "usb/usb_bos_object.h"
#include "usb/usb_configuration.h"
#include "usb/usb_isoc_endpoint.h"

namespace torvane {
namespace {

using test::Bytes;
using test::Endpoint;

Bytes Interface(std::uint8_t number, std::uint8_t alternate, std::uint8_t endpoints) {
    return {9, 4, number, alternate, endpoints, 0x03, 0x00, 0x00, 0};
}

Bytes Companion(std::uint8_t maxBurst, std::uint8_t attributes = 0) {
    return {6, 0x30, maxBurst, attributes, 0x00, 0x04};
}

Bytes ClassDescriptor(std::uint8_t length) {
    Bytes descriptor{length, 0x21};
    descriptor.resize(length);
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

// The capabilities a BOS block records: USB 2.0 Extension, SuperSpeed USB, Container ID.
std::string Capabilities(const Bytes& block) {
    const CUsbBosObject bos(block);
    return std::string(bos.usb20Extension ? "2" : "-") + (bos.superSpeedUsb ? "S" : "-") +
           (bos.containerId ? "C" : "-");
}

class DescriptorWalkTest : public ::testing::Test {
protected:
    std::unique_ptr<CUsbConfiguration> Build(const Bytes& block, bool superSpeedWalk = false) {
        return std::make_unique<CUsbConfiguration>(device, DeviceHandle{0x40}, block,
                                                   superSpeedWalk);
    }
    // Each interface as "altSettingCount x spanLength:" and its endpoint slots 1 to bNumEndpoints
    // ("-" for none, else its kind, address and packet size); the fuzz target checks that none
    // follows them.
    std::string Walk(const std::vector<Bytes>& descriptors, bool superSpeedWalk = false) {
        const auto configuration = Build(Configuration(descriptors), superSpeedWalk);
        std::string text;
        for (std::size_t i = 0; i < configuration->interfaceCount; ++i) {
            const CUsbInterface& setting = *configuration->interfaces[i];
            text += (i == 0 ? "" : " | ") + std::to_string(setting.altSettingCount) + "x" +
                    std::to_string(setting.spanLength) + ":";
            for (std::size_t k = 1; k <= setting.bNumEndpoints; ++k) {
                const CUsbEndPoint* e = setting.endpoints[k];
                char slot[32] = " -";
                if (e != nullptr) {
                    const char* kind = dynamic_cast<const CUsbIsocEndPoint*>(e)        ? "iso"
                                       : dynamic_cast<const CUsbBulkEndPoint*>(e)      ? "bulk"
                                       : dynamic_cast<const CUsbInterruptEndPoint*>(e) ? "int"
                                                                                       : "ctl";
                    std::snprintf(slot, sizeof slot, " %s%02X/%u", kind, e->bEndpointAddress,
                                  e->maxPacketSize);
                }
                text += slot;
            }
        }
        return text;
    }
    test::FakeDevice device;
};

TEST_F(DescriptorWalkTest, WalksPassOverClassDescriptorsAndCountAlternateSettings) {
    EXPECT_EQ(Walk({Interface(0, 0, 2), ClassDescriptor(9), Endpoint(0x81, 3, 64),
                    Endpoint(0x01, 3, 64)}),
              "1x32: int81/64 int01/64");
    // Isochronous with synchronisation bits (bmAttributes 0x05): no object, but the ordinal is
    // used.
    EXPECT_EQ(Walk({Interface(0, 0, 0), Interface(0, 1, 3), Endpoint(0x81, 1, 1024),
                    Endpoint(0x02, 2, 512), Endpoint(0x03, 0, 64), Interface(1, 0, 2),
                    Endpoint(0x84, 5, 1024), Endpoint(0x85, 1, 512)}),
              "2x9: | 2x30: iso81/1024 bulk02/512 ctl03/64 | 1x23: - iso85/512");
    // An interface claiming more endpoints than it has takes the next interface's along.
    EXPECT_EQ(Walk({Interface(0, 0, 2), Endpoint(0x81, 3, 64), Interface(1, 0, 1),
                    Endpoint(0x82, 3, 64)}),
              "1x32: int81/64 int82/64");
}

TEST_F(DescriptorWalkTest, SuperSpeedWalkTakesCompanionsAndMovesPastClassDescriptors) {
    const std::vector<Bytes> descriptors{
        Interface(0, 0, 4),    ClassDescriptor(5),      Endpoint(0x81, 2, 1024),
        Companion(15),         Endpoint(0x02, 2, 1024), Companion(3, 2),
        Endpoint(0x83, 3, 64), Endpoint(0x84, 1, 1024), Companion(1, 2)};
    // Mult (attributes bits 0 and 1) counts for isochronous endpoints only.
    EXPECT_EQ(Walk(descriptors, true), "1x60: bulk81/16384 bulk02/4096 int83/64 iso84/6144");
    // The plain walk passes over companions as it does over class descriptors.
    EXPECT_EQ(Walk(descriptors), "1x54: bulk81/1024 bulk02/1024 int83/64 iso84/1024");

    // Class descriptors beyond the eleventh use ordinals. Plain: the walk stays on the twelfth
    // and counts it once per ordinal left. SuperSpeed: the walk moves on, so the first endpoint
    // takes the second ordinal.
    std::vector<Bytes> many{Interface(0, 0, 2)};
    many.insert(many.end(), 11, ClassDescriptor(3));
    many.insert(many.end(), {ClassDescriptor(20), Endpoint(0x81, 2, 512), Endpoint(0x02, 2, 512)});
    EXPECT_EQ(Walk(many), "1x82: - -");
    EXPECT_EQ(Walk(many, true), "1x69: - bulk81/512");
}

TEST(BosObject, RecordsKnownCapabilitiesUntilAnUnknownOneOrTheTotalLength) {
    const CUsbBosObject all(Bos(3, {kContainerId, kSuperSpeedUsb, kUsb20Extension}));
    ASSERT_TRUE(all.containerId && all.superSpeedUsb && all.usb20Extension);
    EXPECT_EQ(all.usb20Extension->bmAttributes, 0x0100F41Eu);
    EXPECT_TRUE(
        std::ranges::equal(all.containerId->ContainerID, std::span(kContainerId).subspan(4)));
    Bytes unknown = kUsb20Extension;
    unknown[2] = 5;
    EXPECT_EQ(Capabilities(Bos(4, {kContainerId, kUsb20Extension, unknown, kSuperSpeedUsb})),
              "2-C");
    Bytes block = Bos(2, {kUsb20Extension, kSuperSpeedUsb});
    // wTotalLength shorter than the BOS descriptor itself; the second capability running past
    // it is still recorded; the first already running past stops the walk after it.
    for (const auto& [total, recorded] : {std::pair{4, "---"}, {5 + 7, "2S-"}, {5 + 5, "2--"}}) {
        block[2] = static_cast<std::uint8_t>(total);
        EXPECT_EQ(Capabilities(block), recorded) << total;
    }
}

TEST_F(DescriptorWalkTest, BlocksThatWouldLeadAWalkOutsideThemAreRefused) {
    const Bytes valid = Configuration({Interface(0, 0, 1), Endpoint(0x81, 3, 64)});
    auto with = [&](std::size_t offset, std::uint8_t value) {
        Bytes block = valid;
        block[offset] = value;
        return block;
    };
    // Short configuration, block shorter than wTotalLength, descriptors of length 0 or too short
    // for their kind (a companion too), more endpoints than present or allowed, a descriptor past
    // the end (by one byte, too).
    for (const Bytes& block :
         {Bytes(valid.begin(), valid.begin() + 8), Bytes(valid.begin(), valid.end() - 1),
          with(2, 26), with(0, 8), with(9, 0), with(9, 8), with(13, 2), with(13, 32), with(18, 6),
          with(18, 8),
          Configuration({Interface(0, 0, 1), Endpoint(0x81, 2, 64), {5, 0x30, 0, 0, 0}}),
          Configuration({Interface(0, 0, 0), {5, 0x30}})}) {
        EXPECT_THROW(Build(block, true), TextError);
    }
    for (const Bytes& block : {Bytes{5, 0x0F, 5, 0}, Bos(2, {kUsb20Extension}),
                               Bos(1, {Bytes(kUsb20Extension.begin(), kUsb20Extension.end() - 1)}),
                               Bos(1, {{6, 0x10, 2, 0, 0, 0}})}) {
        EXPECT_THROW(CUsbBosObject{block}, TextError);
    }
}

}  // namespace
}  // namespace torvane
