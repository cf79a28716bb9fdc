#include "sim/usb_function.h"

#include <gtest/gtest.h>

#include "support/usb_fakes.h"
#include "usb/little_endian.h"

namespace torvane::sim {
namespace {

using test::Block;
using test::Bytes;

Bytes Transfer(std::size_t size, std::uint8_t endpoint, std::uint32_t dataOffset,
               std::uint32_t dataLength, std::uint32_t isoOffset = 0, std::uint32_t isoLength = 0) {
    return Block(
        size,
        {{13, endpoint}, {22, isoOffset}, {26, isoLength}, {30, dataOffset}, {34, dataLength}});
}

Bytes GetDevice(std::size_t size, std::uint32_t dataOffset = 38, std::uint32_t dataLength = 18) {
    return Block(size, {{0, 0x01000680}, {6, 18}, {30, dataOffset}, {34, dataLength}});
}

class UsbFunctionTest : public ::testing::Test {
protected:
    // A request whose answer goes into its own buffer; direct transfers pass their data apart.
    bool Call(std::uint32_t code, std::span<std::uint8_t> block,
              std::span<std::uint8_t> data = {}) {
        error = {};
        return usb.IoControl(0, code, block, code == 0x22004B ? data : block, bytes, error);
    }
    UsbFunction usb{
        UsbFunctionConfig{.descriptors = IsochronousDescriptors(), .locationPath = "P1"}};
    std::uint32_t bytes = 0;
    SystemError error;
};

// Loopback, packet records and endpoints outside the alternate setting are proven by the device
// tests' transfers; here what they do not reach: malformed blocks, and more data than the packets
// carry, as many as a SuperSpeed companion allows.
TEST_F(UsbFunctionTest, MalformedBlocksGetAnErrorStatusAndPacketsCarryNoMoreThanTheirSize) {
    usb.SetAlternateSetting(1);
    const struct {
        std::uint32_t code;
        Bytes block;
        bool answered;  // false: refused with kErrorInvalidParameter
    } cases[] = {
        {0x220020, GetDevice(37), false},                              // shorter than the header
        {0x220020, GetDevice(50), true},                               // data past the end
        {0x220020, GetDevice(56, 0), true},                            // data on the header
        {0x220020, GetDevice(56, 38, 10), true},                       // wLength past the data
        {0x220020, GetDevice(56, 0xFFFFFFF0), true},                   // offset wraps
        {0x220024, Transfer(150, 0x81, 50, 100, 38, 12), true},        // records not whole
        {0x220024, Transfer(146, 0x81, 46, 100, 140, 8), true},        // records past the end
        {0x220024, Transfer(146, 0x02, 46, 0xFFFFFFFF, 38, 8), true},  // data past the end
        {0x22004B, Transfer(38, 0x81, 0, 0, 38, 0), true},             // no records
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        // The block is the front of a buffer whose tail, like the direct data, must stay as it
        // was.
        Bytes buffer = c.block;
        buffer.resize(c.block.size() + 64, 0xEE);
        Bytes data(64, 0xEE);
        EXPECT_EQ(Call(c.code, std::span(buffer).first(c.block.size()), data), c.answered);
        EXPECT_EQ(error.code, c.answered ? 0 : kErrorInvalidParameter);
        EXPECT_EQ(Bytes(buffer.begin() + c.block.size(), buffer.end()), data);
        EXPECT_EQ(data, Bytes(64, 0xEE));
        if (c.answered) {
            EXPECT_EQ(bytes, c.code == 0x22004B ? 0u : 38u);
            EXPECT_EQ(std::pair(ReadLe32(buffer, 14), ReadLe32(buffer, 18)),
                      std::pair(kNtStatusInvalidParameter, kUsbdStatusInvalidParameter));
        }
    }
    // Nothing of the above was received; OUT takes two packets of 512 bytes of 1500.
    Bytes out = Transfer(1554, 0x02, 54, 1500, 38, 16);
    ASSERT_TRUE(Call(0x220024, out));
    EXPECT_EQ(std::pair(bytes, ReadLe32(out, 50)), std::pair(54u + 1024, 512u));
    EXPECT_EQ(usb.Received(0x02).size(), 1024u);

    // A SuperSpeed companion multiplies the packets: burst of 2 and Mult 2 on 1024 bytes.
    DescriptorSet superSpeed = SuperSpeedDescriptors();
    superSpeed.configurations[0][26] = 1;  // bulk IN 1 made isochronous
    superSpeed.configurations[0][32] = 1;
    superSpeed.configurations[0][33] = 2;
    UsbFunction fast{UsbFunctionConfig{.descriptors = superSpeed, .locationPath = "P2"}};
    Bytes in = Transfer(8046, 0x81, 46, 8000, 38, 8);
    ASSERT_TRUE(fast.IoControl(0, 0x220024, in, in, bytes, error));
    EXPECT_EQ(ReadLe32(in, 42), 1024u * 2 * 3);
}

}  // namespace
}  // namespace torvane::sim
