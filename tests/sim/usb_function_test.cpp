#include "sim/usb_function.h"

#include <algorithm>
#include <set>
#include <tuple>

#include <gtest/gtest.h>

#include "sim/sim_device_interfaces.h"
#include "sim/virtual_clock.h"

namespace torvane::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::string_literals;

std::uint32_t Read32(const Bytes& bytes, std::size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

// The header fields of a request block, as the access layer fills them.
struct Request {
    std::uint8_t requestType = 0;
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    std::uint16_t length = 0;
    std::uint8_t endpoint = 0;
    std::uint32_t isoOffset = 0;
    std::uint32_t isoLength = 0;
    std::uint32_t dataOffset = 38;
    std::uint32_t dataLength = 0;
};

// A block of size bytes; below the header's 38 bytes it keeps the header's first bytes.
Bytes Block(const Request& r, std::size_t size) {
    Bytes block(std::max<std::size_t>(size, 38));
    const auto put = [&block](std::size_t at, std::uint32_t value, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            block[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
        }
    };
    const std::pair<std::size_t, std::uint32_t> fields[] = {
        {0, r.requestType}, {1, r.request},    {2, r.value},      {4, r.index},
        {6, r.length},      {13, r.endpoint},  {22, r.isoOffset}, {26, r.isoLength},
        {30, r.dataOffset}, {34, r.dataLength}};
    for (const auto& [at, value] : fields) {
        put(at, value, at < 2 || at == 13 ? 1 : at < 8 ? 2 : 4);
    }
    block.resize(size);
    return block;
}

Bytes ControlBlock(std::uint8_t type, std::uint8_t request, std::uint16_t value,
                   std::uint16_t index, std::uint16_t length) {
    return Block({type, request, value, index, length, 0, 0, 0, 38, length}, 38u + length);
}

Bytes Pattern(std::uint8_t address, std::size_t n) {
    Bytes bytes(n);
    for (std::size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<std::uint8_t>(address + i);
    }
    return bytes;
}

Bytes Tail(const Bytes& bytes, std::size_t from, std::size_t n) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                 bytes.begin() + static_cast<std::ptrdiff_t>(from + n));
}

std::pair<std::uint32_t, std::uint32_t> Statuses(const Bytes& block) {
    return {Read32(block, 14), Read32(block, 18)};
}

const std::pair<std::uint32_t, std::uint32_t> kOk{0, 0};
const std::pair kStall{kNtStatusUnsuccessful, kUsbdStatusStallPid};
const std::pair kInvalid{kNtStatusInvalidParameter, kUsbdStatusInvalidParameter};

class UsbFunctionTest : public ::testing::Test {
protected:
    void Plug(DescriptorSet set) {
        usb = std::make_shared<UsbFunction>(
            UsbFunctionConfig{.descriptors = std::move(set), .locationPath = "P1"});
        bus.Attach(usb);
        handle = interfaces.Open(
            interfaces.Enumerate(kUsbFunctionClassGuid)->back().devicePath.value(), error);
        ASSERT_TRUE(handle);
    }

    bool Call(std::uint32_t code, std::span<std::uint8_t> buffer) {
        error = {};
        return interfaces.IoControl(handle, code, buffer, bytes, error);
    }

    // A direct transfer: the header goes in (and takes the statuses and records the driver
    // writes, kept in lastHeader), data is the caller's buffer.
    bool Direct(Bytes header, std::span<std::uint8_t> data) {
        AsyncIo io;
        interfaces.CreateIo(io);
        lastHeader = std::move(header);
        interfaces.BeginIoControl(handle, 0x22004B, lastHeader, data, io, error);
        const bool ok = interfaces.GetIoResult(handle, io, bytes);
        interfaces.CloseIo(io);
        return ok;
    }

    Bytes GetDescriptor(std::uint8_t type, std::uint8_t index, std::uint16_t language,
                        std::uint16_t length) {
        Bytes block =
            ControlBlock(0x80, 6, static_cast<std::uint16_t>(type << 8 | index), language, length);
        EXPECT_TRUE(Call(0x220020, block));
        return block;
    }

    VirtualClock clock;
    VirtualBus bus{clock};
    SimDeviceInterfaces interfaces{bus};
    std::shared_ptr<UsbFunction> usb;
    DeviceHandle handle;
    std::uint32_t bytes = 0;
    SystemError error;
    Bytes lastHeader;
};

// Walks each set as a host would: every length and count it announces must hold.
TEST(DescriptorSets, EveryBlockAgreesWithItsOwnLengthsAndCounts) {
    for (const DescriptorSet& set : {HidClassDescriptors(), BulkAlternateDescriptors(),
                                     SuperSpeedDescriptors(), IsochronousDescriptors()}) {
        ASSERT_EQ(set.device.size(), 18u);
        EXPECT_EQ(set.device[17], set.configurations.size());
        for (const Bytes& string : set.strings) {
            EXPECT_EQ(string[0], string.size());
        }
        EXPECT_LT(*std::max_element(&set.device[14], &set.device[17]), set.strings.size());
        const bool superSpeed = set.device[3] == 0x03;
        const Bytes& config = set.configurations.at(0);
        EXPECT_EQ(config[2] | config[3] << 8, static_cast<int>(config.size()));
        std::set<int> interfaceNumbers;
        int endpointsDue = 0;
        for (std::size_t at = 9; at < config.size(); at += config[at]) {
            ASSERT_GE(config[at], 2);
            ASSERT_LE(at + config[at], config.size());
            if (config[at + 1] == 4) {
                EXPECT_EQ(endpointsDue, 0) << "endpoints missing before " << at;
                interfaceNumbers.insert(config[at + 2]);
                endpointsDue = config[at + 4];
            } else if (config[at + 1] == 5) {
                --endpointsDue;
                // SuperSpeed endpoints have their companion right behind them.
                const std::size_t next = at + config[at];
                EXPECT_EQ(superSpeed, next < config.size() && config[next + 1] == 0x30) << at;
            }
        }
        EXPECT_EQ(endpointsDue, 0);
        EXPECT_EQ(interfaceNumbers.size(), config[4]);
        if (!set.bos.empty()) {
            EXPECT_EQ(set.bos[2] | set.bos[3] << 8, static_cast<int>(set.bos.size()));
            int capabilities = 0;
            for (std::size_t at = 5; at < set.bos.size(); at += set.bos[at]) {
                ++capabilities;
            }
            EXPECT_EQ(capabilities, set.bos[4]);
        }
    }
    EXPECT_EQ(IsochronousDescriptors().strings[2].size(), 42u);  // 20 characters
}

TEST_F(UsbFunctionTest, DriverQueriesAndTheirShortAnswers) {
    Plug(BulkAlternateDescriptors());
    Bytes u32(4);
    for (const auto& [code, value] :
         {std::pair{0x220000u, 0x00020001u}, {0x220004u, 0x600u}, {0x22004Cu, 2u}}) {
        ASSERT_TRUE(Call(code, u32));
        EXPECT_EQ(bytes, 4u);
        EXPECT_EQ(Read32(u32, 0), value);
    }
    usb->SetSpeed(4);
    usb->SetAlternateSetting(1);
    ASSERT_TRUE(Call(0x22004C, u32));
    EXPECT_EQ(Read32(u32, 0), 4u);
    Bytes u8(1);
    ASSERT_TRUE(Call(0x220008, u8));
    EXPECT_EQ(u8[0], 1);
    ASSERT_TRUE(Call(0x220010, u8));
    EXPECT_EQ(u8[0], 7);
    for (const auto& [code, text] :
         {std::pair{0x22003Cu, "\\Device\\USBPDO-7"s}, {0x220040u, "Torvane USB Function"s}}) {
        Bytes name(256, 0xEE);
        ASSERT_TRUE(Call(code, name));
        EXPECT_EQ(bytes, 256u);
        EXPECT_EQ(std::string(name.begin(), name.end()), text + std::string(256 - text.size(), 0));
    }

    usb->CutReply(0x220000, 2);
    u32.assign(4, 0xEE);
    ASSERT_TRUE(Call(0x220000, u32));
    EXPECT_EQ(bytes, 2u);
    EXPECT_EQ(u32, (Bytes{0x01, 0x00, 0xEE, 0xEE}));
    EXPECT_FALSE(Call(0x220004, std::span(u32).first(3)));
    EXPECT_EQ(error.code, kErrorInsufficientBuffer);
    EXPECT_EQ(u32, (Bytes{0x01, 0x00, 0xEE, 0xEE}));
    EXPECT_FALSE(Call(0x220014, u32));
    EXPECT_EQ(error.code, kErrorInvalidFunction);
    // A control answer cut inside its data: the header and part of the descriptor.
    usb->CutReply(0x220020, 42);
    const Bytes block = GetDescriptor(1, 0, 0, 18);
    EXPECT_EQ(bytes, 42u);
    EXPECT_EQ(Tail(block, 38, 5), (Bytes{0x12, 0x01, 0x10, 0x02, 0x00}));
}

TEST_F(UsbFunctionTest, GetDescriptorAnswersByteForByte) {
    Plug(BulkAlternateDescriptors());
    const DescriptorSet set = BulkAlternateDescriptors();
    Bytes block = GetDescriptor(1, 0, 0, 18);
    EXPECT_EQ(bytes, 56u);
    EXPECT_EQ(Statuses(block), kOk);
    EXPECT_EQ(Tail(block, 38, 18), set.device);
    block = GetDescriptor(2, 0, 0, 9);
    EXPECT_EQ(bytes, 47u);
    EXPECT_EQ(Tail(block, 38, 9), Tail(set.configurations[0], 0, 9));
    block = GetDescriptor(2, 0, 0, 78);
    EXPECT_EQ(Tail(block, 38, 78), set.configurations[0]);
    block = GetDescriptor(15, 0, 0, 100);  // more than there is: what there is
    EXPECT_EQ(bytes, 38u + 12);
    EXPECT_EQ(Tail(block, 38, 12), set.bos);
    block = GetDescriptor(3, 0, 0x0409, 4);
    EXPECT_EQ(Tail(block, 38, 4), set.strings[0]);
    block = GetDescriptor(3, 2, 0x0409, 255);
    EXPECT_EQ(Tail(block, 38, 44), StringDescriptor(u"Torvane Bulk Function"));

    // What the device does not have stalls: the header comes back alone.
    for (const auto& [type, index, language] :
         {std::tuple{3, 2, 0x0407}, {3, 4, 0x0409}, {2, 1, 0}, {6, 0, 0}, {1, 1, 0}}) {
        block = GetDescriptor(static_cast<std::uint8_t>(type), static_cast<std::uint8_t>(index),
                              static_cast<std::uint16_t>(language), 18);
        EXPECT_EQ(bytes, 38u);
        EXPECT_EQ(Statuses(block), kStall);
        EXPECT_EQ(Tail(block, 38, 18), Bytes(18, 0));
    }
}

TEST_F(UsbFunctionTest, StringsInEachLanguageOfTheTable) {
    Plug(IsochronousDescriptors());
    EXPECT_EQ(Tail(GetDescriptor(3, 0, 0, 6), 38, 6), (Bytes{0x06, 0x03, 0x07, 0x04, 0x09, 0x04}));
    for (const std::uint16_t language : {0x0407, 0x0409}) {
        EXPECT_EQ(Tail(GetDescriptor(3, 2, language, 42), 38, 42),
                  StringDescriptor(u"Torvane Iso Streamer"));
    }
    EXPECT_EQ(Statuses(GetDescriptor(15, 0, 0, 5)), kStall);  // no BOS on a USB 2.0 device
}

TEST_F(UsbFunctionTest, SetInterfaceAndVendorRequests) {
    Plug(BulkAlternateDescriptors());
    Bytes block = ControlBlock(0x01, 11, 1, 0, 0);
    ASSERT_TRUE(Call(0x220020, block));
    EXPECT_EQ(Statuses(block), kOk);
    EXPECT_EQ(usb->alternateSetting(), 1);
    block = ControlBlock(0x01, 11, 2, 0, 0);
    ASSERT_TRUE(Call(0x220020, block));
    EXPECT_EQ(Statuses(block), kStall);
    EXPECT_EQ(usb->alternateSetting(), 1);

    block = ControlBlock(0x40, 0x33, 0, 0, 3);
    std::copy_n(Bytes{0xA1, 0xA2, 0xA3}.begin(), 3, block.begin() + 38);
    ASSERT_TRUE(Call(0x220020, block));
    EXPECT_EQ(bytes, 41u);
    block = ControlBlock(0xC0, 0x33, 0, 0, 8);
    ASSERT_TRUE(Call(0x220020, block));
    EXPECT_EQ(bytes, 41u);
    EXPECT_EQ(Tail(block, 38, 8), (Bytes{0xA1, 0xA2, 0xA3, 0, 0, 0, 0, 0}));
}

TEST_F(UsbFunctionTest, MalformedBlocksGetAnErrorStatusAndNothingOutsideTheBlock) {
    Plug(IsochronousDescriptors());
    usb->SetAlternateSetting(1);
    // Each block is the first size bytes of a buffer whose tail must stay as it was.
    const auto send = [&](std::uint32_t code, const Request& r, std::size_t size) {
        Bytes buffer = Block(r, size);
        buffer.resize(size + 64, 0xEE);
        const bool ok = Call(code, std::span(buffer).first(size));
        EXPECT_EQ(Tail(buffer, size, 64), Bytes(64, 0xEE));
        buffer.resize(size);
        return std::make_pair(ok, buffer);
    };
    EXPECT_FALSE(send(0x220020, {0x80, 6, 0x0100, 0, 18}, 37).first);
    EXPECT_EQ(error.code, kErrorInvalidParameter);
    EXPECT_FALSE(send(0x220024, {}, 20).first);
    const std::vector<std::tuple<std::uint32_t, Request, std::size_t>> malformed = {
        {0x220020, {0x80, 6, 0x0100, 0, 18, 0, 0, 0, 38, 18}, 50},          // data past the end
        {0x220020, {0x80, 6, 0x0100, 0, 18, 0, 0, 0, 0, 18}, 56},           // data on the header
        {0x220020, {0x80, 6, 0x0100, 0, 18, 0, 0, 0, 38, 10}, 56},          // wLength past data
        {0x220020, {0x80, 6, 0x0100, 0, 18, 0, 0, 0, 0xFFFFFFF0, 18}, 56},  // offset wraps
        {0x220024, {0, 0, 0, 0, 0, 0x81, 38, 12, 50, 100}, 150},            // records not whole
        {0x220024, {0, 0, 0, 0, 0, 0x81, 38, 0, 38, 100}, 138},             // no records
        {0x220024, {0, 0, 0, 0, 0, 0x81, 140, 8, 46, 100}, 146},            // records past end
        {0x220024, {0, 0, 0, 0, 0, 0x02, 38, 8, 46, 0xFFFFFFFF}, 146},      // data past end
    };
    for (const auto& [code, request, size] : malformed) {
        const auto [ok, block] = send(code, request, size);
        ASSERT_TRUE(ok);
        EXPECT_EQ(bytes, 38u);
        EXPECT_EQ(Statuses(block), kInvalid) << size;
    }
    EXPECT_TRUE(usb->Received(0x02).empty());

    Bytes data(64, 0xEE);
    for (const Bytes& header :
         {Block({0, 0, 0, 0, 0, 0x81, 38, 12}, 50), Block({0, 0, 0, 0, 0, 0x81, 38, 8}, 38)}) {
        ASSERT_TRUE(Direct(header, data));
        EXPECT_EQ(bytes, 0u);
        EXPECT_EQ(Statuses(lastHeader), kInvalid);
    }
    EXPECT_FALSE(Direct(Bytes(20), data));
    EXPECT_EQ(error.code, kErrorInvalidParameter);
    EXPECT_EQ(data, Bytes(64, 0xEE));
}

TEST_F(UsbFunctionTest, BulkTransfersFollowTheAlternateSetting) {
    Plug(BulkAlternateDescriptors());
    Bytes out = Block({.endpoint = 0x02, .dataLength = 5}, 43);
    std::copy_n(Bytes{1, 2, 3, 4, 5}.begin(), 5, out.begin() + 38);
    ASSERT_TRUE(Call(0x220024, out));
    EXPECT_EQ(bytes, 43u);
    EXPECT_EQ(Statuses(out), kOk);
    EXPECT_EQ(usb->Received(0x02), (Bytes{1, 2, 3, 4, 5}));
    // IN brings back the OUT data first (no more than there is), then the pattern.
    Bytes in = Block({.endpoint = 0x81, .dataLength = 8}, 46);
    ASSERT_TRUE(Call(0x220024, in));
    EXPECT_EQ(bytes, 43u);
    EXPECT_EQ(Tail(in, 38, 5), (Bytes{1, 2, 3, 4, 5}));
    ASSERT_TRUE(Call(0x220024, in));
    EXPECT_EQ(bytes, 46u);
    EXPECT_EQ(Tail(in, 38, 8), Pattern(0x81, 8));

    // Endpoint 0x83 exists in alternate setting 1 only.
    Bytes inactive = Block({.endpoint = 0x83, .dataLength = 4}, 42);
    ASSERT_TRUE(Call(0x220024, inactive));
    EXPECT_EQ(Statuses(inactive),
              std::pair(kNtStatusInvalidParameter, kUsbdStatusInvalidPipeHandle));
    Bytes data(16, 0xEE);
    const Bytes header = Block({.endpoint = 0x83, .dataOffset = 0}, 38);
    ASSERT_TRUE(Direct(header, data));
    EXPECT_EQ(Statuses(lastHeader),
              std::pair(kNtStatusInvalidParameter, kUsbdStatusInvalidPipeHandle));
    usb->SetAlternateSetting(1);
    ASSERT_TRUE(Direct(header, data));
    EXPECT_EQ(error.code, kErrorIoPending);
    EXPECT_EQ(bytes, 16u);
    EXPECT_EQ(data, Pattern(0x83, 16));
    usb->CutReply(0x22004B, 6);
    EXPECT_TRUE(Direct(Block({.endpoint = 0x02, .dataOffset = 0}, 38), data));
    EXPECT_EQ(bytes, 6u);
    EXPECT_EQ(usb->Received(0x02).size(), 5u + 6u);
}

TEST_F(UsbFunctionTest, IsochronousTransfersFillTheirPacketRecords) {
    Plug(IsochronousDescriptors());
    const Request in{
        .endpoint = 0x81, .isoOffset = 38, .isoLength = 24, .dataOffset = 62, .dataLength = 5000};
    Bytes block = Block(in, 5062);
    ASSERT_TRUE(Call(0x220024, block));
    EXPECT_EQ(Statuses(block).second, kUsbdStatusInvalidPipeHandle);  // alternate 0: no bandwidth

    usb->SetAlternateSetting(1);
    block = Block(in, 5062);
    ASSERT_TRUE(Call(0x220024, block));
    EXPECT_EQ(bytes, 5062u);
    // Packets of 2 x 1024 bytes: 2048, 2048 and the remaining 904.
    for (const auto& [record, length] : {std::pair{0, 2048u}, {1, 2048u}, {2, 904u}}) {
        EXPECT_EQ(Read32(block, 38 + 8 * record), 0u);
        EXPECT_EQ(Read32(block, 42 + 8 * record), length);
    }
    EXPECT_EQ(Tail(block, 62, 5000), Pattern(0x81, 5000));

    // More data than the packets carry: OUT takes two packets of 512 bytes.
    block = Block(
        {.endpoint = 0x02, .isoOffset = 38, .isoLength = 16, .dataOffset = 54, .dataLength = 1500},
        1554);
    ASSERT_TRUE(Call(0x220024, block));
    EXPECT_EQ(bytes, 54u + 1024);
    EXPECT_EQ(Read32(block, 50), 512u);
    EXPECT_EQ(usb->Received(0x02).size(), 1024u);
    // Direct: the caller's buffer takes what one packet carries, the looped-back data first.
    Bytes data(4096);
    ASSERT_TRUE(Direct(Block({.endpoint = 0x81, .isoOffset = 38, .isoLength = 8}, 46), data));
    EXPECT_EQ(bytes, 1024u);
    EXPECT_EQ(Tail(data, 0, 1024), usb->Received(0x02));
    EXPECT_EQ(Statuses(lastHeader), kOk);
    EXPECT_EQ(Read32(lastHeader, 42), 1024u);
}

TEST_F(UsbFunctionTest, SuperSpeedCompanionMultipliesIsochronousPackets) {
    DescriptorSet set = SuperSpeedDescriptors();
    set.configurations[0] = {
        0x09, 0x02, 0x1F, 0x00, 0x01, 0x01, 0x00, 0x80, 0x32,  //
        0x09, 0x04, 0x00, 0x00, 0x01, 0xFF, 0x00, 0x00, 0x00,  //
        0x07, 0x05, 0x81, 0x01, 0x00, 0x04, 0x01,              // isochronous IN, 1024
        0x06, 0x30, 0x01, 0x02, 0x00, 0x30,                    // burst of 2, Mult 2
    };
    Plug(std::move(set));
    Bytes block = Block(
        {.endpoint = 0x81, .isoOffset = 38, .isoLength = 8, .dataOffset = 46, .dataLength = 8000},
        8046);
    ASSERT_TRUE(Call(0x220024, block));
    EXPECT_EQ(Read32(block, 42), 1024u * 2 * 3);
    EXPECT_EQ(bytes, 46u + 6144);
}

}  // namespace
}  // namespace torvane::sim
