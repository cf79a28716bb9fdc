#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "usb/debug_trace.h"
#include "usb/io_control_codes.h"
#include "usb/usb_control_endpoint.h"
#include "usb/usb_isoc_endpoint.h"
#include "usb_test_support.h"

namespace torvane {
namespace {

using test::Bytes;

// A block of size zero bytes with the given 32-bit little-endian header fields and fill from
// dataStart on.
Bytes Block(std::size_t size, std::initializer_list<std::pair<std::size_t, std::uint32_t>> fields,
            std::uint8_t fill = 0, std::size_t dataStart = 38) {
    Bytes bytes(size, 0);
    std::fill(bytes.begin() + dataStart, bytes.end(), fill);
    for (const auto& [offset, value] : fields) {
        for (std::size_t i = 0; i < 4 && offset + i < 38; ++i) {
            bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
        }
    }
    return bytes;
}

class EndpointTest : public ::testing::Test {
protected:
    // The trace line text with the event and the block's address filled in.
    static std::string Line(const char* format, const RequestBlock& block) {
        char line[128];
        std::snprintf(line, sizeof line, format, 0xABCD1234u, TraceValue(block.bytes().data()));
        return std::string("<USBIO:> ") + line;
    }
    // Finishes with the driver reporting bytes; finished keeps the result.
    std::int32_t Finish(CUsbEndPoint& endpoint, Bytes& buffer, std::unique_ptr<RequestBlock> block,
                        std::uint32_t bytes, std::span<std::uint8_t> records = {}) {
        device.resultBytes = bytes;
        std::int32_t length = -1;
        finished = endpoint.FinishTransfer(buffer, length, io, std::move(block), records);
        return length;
    }

    test::FakeDevice device;
    test::RecordingTrace trace;
    DeviceHandle handle{0x40};
    AsyncIo io{0xABCD1234u, nullptr};
    bool finished = false;
};

TEST_F(EndpointTest, PacketSizesFollowTransactionsBurstAndIsochronousMult) {
    const struct {
        Bytes endpoint, companion;
        std::uint16_t maxPacketSize;
    } cases[] = {
        {test::Endpoint(0x81, 3, 0x1400), {}, 3072},
        {test::Endpoint(0x01, 2, 512), test::Companion(15, 0), 8192},
        {test::Endpoint(0x81, 1, 1024), test::Companion(15, 2), 49152},
        {test::Endpoint(0x81, 3, 1024), test::Companion(2, 2), 3072},
        {test::Endpoint(0x81, 1, 0x1400), test::Companion(15, 2), 16384},  // 147456 cut to 16 bits
    };
    for (const auto& c : cases) {
        const CUsbIsocEndPoint endpoint(device, handle, c.endpoint.data(),
                                        c.companion.empty() ? nullptr : c.companion.data());
        EXPECT_EQ(endpoint.maxPacketSize, c.maxPacketSize);
        EXPECT_EQ(endpoint.wBytesPerInterval, c.companion.empty() ? 0 : 0x400);
    }
    EXPECT_EQ(CUsbBulkEndPoint(device, handle, cases[0].endpoint.data()).transactionsPerMicroframe,
              3);
}

TEST_F(EndpointTest, BufferedOutSendsTheDataInTheBlockAndCopiesNothingBack) {
    CUsbBulkEndPoint endpoint(device, handle, test::Endpoint(0x02, 2, 512).data());
    Bytes data(64);
    std::ranges::generate(data, [n = 0]() mutable { return static_cast<std::uint8_t>(++n); });
    auto block = endpoint.BeginBufferedTransfer(data, io);
    Bytes expected = Block(102, {{13, 0x02}, {30, 38}, {34, 64}});
    std::ranges::copy(data, expected.begin() + 38);
    ASSERT_EQ(device.calls.size(), 1u);
    EXPECT_EQ(device.calls[0].code, kIoctlBufferedTransfer);
    EXPECT_EQ(device.calls[0].input, expected);
    EXPECT_EQ(device.calls[0].output, block->bytes().data());
    EXPECT_EQ(device.calls[0].outputSize, 102u);
    EXPECT_EQ(endpoint.lastError, kErrorIoPending);
    const std::vector<std::string> lines{
        Line("Begin buf:0x%x Newbuf:0x%x\n", *block),
        Line("Finish :0x%x Delete:0x%x rResult:1 USBstatus:0 Ntstatus:0\n", *block)};
    std::ranges::fill(block->DataArea(64), std::uint8_t{0xEE});
    EXPECT_EQ(Finish(endpoint, data, std::move(block), 102), 64);
    EXPECT_TRUE(finished);
    EXPECT_EQ(endpoint.bytesTransferred, 64);
    EXPECT_EQ(data[0], 1);
    EXPECT_EQ(trace.lines, lines);
}

TEST_F(EndpointTest, BufferedInCopiesWhatArrivedButNeverBeyondTheCallersBuffer) {
    CUsbInterruptEndPoint endpoint(device, handle, test::Endpoint(0x81, 3, 512).data());
    endpoint.transferMode = 0;
    Bytes buffer(512, 0xEE);
    auto block = endpoint.BeginTransfer(buffer, io);
    ASSERT_EQ(device.calls.at(0).code, kIoctlBufferedTransfer);
    std::ranges::fill(block->DataArea(512), std::uint8_t{0x77});
    std::ranges::fill(block->DataArea(100), std::uint8_t{0x5A});
    EXPECT_EQ(Finish(endpoint, buffer, std::move(block), 138), 100);
    EXPECT_EQ(buffer[99], 0x5A);
    EXPECT_EQ(buffer[100], 0xEE);

    // A driver reporting far more than block and buffer hold, from a data offset it moved.
    Bytes small(16, 0xEE);
    block = endpoint.BeginTransfer(small, io);
    block->SetDataOffset(22);
    const Bytes moved(block->bytes().begin() + 22, block->bytes().begin() + 38);
    EXPECT_EQ(Finish(endpoint, small, std::move(block), 5000), 5000 - 22);
    EXPECT_EQ(small, moved);
}

TEST_F(EndpointTest, DirectTransferHandsTheCallersBufferToTheDriver) {
    CUsbBulkEndPoint endpoint(device, handle, test::Endpoint(0x81, 2, 512).data());
    Bytes buffer(512, 0xEE);
    auto block = endpoint.BeginTransfer(buffer, io);
    ASSERT_EQ(device.calls.size(), 1u);
    EXPECT_EQ(device.calls[0].code, kIoctlDirectTransfer);
    EXPECT_EQ(device.calls[0].input, Block(38, {{13, 0x81}}));
    EXPECT_EQ(device.calls[0].output, buffer.data());
    EXPECT_EQ(device.calls[0].outputSize, 512u);
    EXPECT_EQ(trace.lines,
              (std::vector<std::string>{"<USBIO:> Begin direct\n",
                                        Line("Begin direct:0x%x Newbuf:0x%x\n", *block)}));
    EXPECT_EQ(Finish(endpoint, buffer, std::move(block), 512), 512);
    EXPECT_EQ(buffer, Bytes(512, 0xEE));
}

TEST_F(EndpointTest, FinishDecidesByResultAndBothStatuses) {
    const struct {
        bool ok;
        std::uint32_t bytes, usbdStatus, ntStatus;
        bool result;
        const char* tail;
    } cases[] = {
        {true, 0, 0, 0, true, "rResult:1 USBstatus:0 Ntstatus:0\n"},
        {true, 64, 5, 0, false, "rResult:1 USBstatus:5 Ntstatus:0\n"},
        {true, 64, 0, 0xC0000001u, false, "rResult:1 USBstatus:0 Ntstatus:-1073741823\n"},
        {false, 0, 0, 0, false, "rResult:0 USBstatus:0 Ntstatus:0\n"},
    };
    CUsbBulkEndPoint endpoint(device, handle, test::Endpoint(0x81, 2, 64).data());
    Bytes buffer(64);
    for (const auto& c : cases) {
        auto block = endpoint.BeginDirectTransfer(buffer, io);
        block->SetUsbdStatus(c.usbdStatus);
        block->SetNtStatus(c.ntStatus);
        const std::string line = Line("Finish :0x%x Delete:0x%x ", *block) + c.tail;
        device.resultOk = c.ok;
        EXPECT_EQ(Finish(endpoint, buffer, std::move(block), c.bytes),
                  static_cast<std::int32_t>(c.bytes));
        EXPECT_EQ(finished, c.result);
        EXPECT_EQ(endpoint.usbdStatus, c.usbdStatus);
        EXPECT_EQ(trace.lines.back(), line);
    }
}

TEST_F(EndpointTest, ClosedDeviceStartsNothingAndANullBlockFinishesNothing) {
    const Bytes descriptor = test::Endpoint(0x81, 1, 64);
    CUsbBulkEndPoint bulk(device, DeviceHandle{}, descriptor.data());
    CUsbIsocEndPoint isoc(device, DeviceHandle{}, descriptor.data());
    CUsbControlEndPoint control(device, DeviceHandle{}, nullptr);
    Bytes buffer(64);
    for (CUsbEndPoint* endpoint : std::initializer_list<CUsbEndPoint*>{&bulk, &isoc, &control}) {
        EXPECT_EQ(endpoint->BeginDirectTransfer(buffer, io), nullptr);
        EXPECT_EQ(endpoint->BeginBufferedTransfer(buffer, io), nullptr);
        EXPECT_EQ(endpoint->BeginTransfer(buffer, io), nullptr);
    }
    EXPECT_EQ(Finish(bulk, buffer, nullptr, 64), -1);
    EXPECT_FALSE(finished);
    EXPECT_TRUE(device.calls.empty());
    EXPECT_EQ(device.resultQueries, 0);
    EXPECT_TRUE(trace.lines.empty());
}

TEST_F(EndpointTest, ControlTransferCarriesTheSetupPacketAndItsData) {
    CUsbControlEndPoint control(device, handle, nullptr);
    control.direction = 1;
    control.requestType = 0;
    control.bRequest = 6;
    control.wValue = 0x0100;
    Bytes buffer(18, 0xEE);
    auto block = control.BeginTransfer(buffer, io);
    ASSERT_EQ(device.calls.size(), 1u);
    EXPECT_EQ(device.calls[0].code, kIoctlControlTransfer);
    EXPECT_EQ(device.calls[0].input,
              Block(56, {{0, 0x01000680}, {6, 18}, {8, 10}, {30, 38}, {34, 18}}, 0xEE));
    EXPECT_EQ(device.calls[0].output, block->bytes().data());
    EXPECT_EQ(trace.lines.at(0), Line("Begin Control:0x%x Newbuf:0x%x\n", *block));
    std::ranges::fill(block->DataArea(18), std::uint8_t{0x12});
    EXPECT_EQ(Finish(control, buffer, std::move(block), 56), 18);
    EXPECT_EQ(buffer, Bytes(18, 0x12));

    // Once a caller sets direct mode, received data is no longer copied back.
    control.transferMode = 1;
    block = control.BeginTransfer(buffer, io);
    std::ranges::fill(block->DataArea(18), std::uint8_t{0x34});
    EXPECT_EQ(Finish(control, buffer, std::move(block), 56), 18);
    EXPECT_EQ(buffer, Bytes(18, 0x12));
}

TEST_F(EndpointTest, ControlSetupFieldsAreMaskedAndTimeoutsRoundedToSeconds) {
    CUsbControlEndPoint control(device, handle, nullptr);
    Bytes none;
    EXPECT_EQ(control.BeginTransfer(none, io)->bmRequestType(), 0x40);
    EXPECT_EQ(device.calls.back().input.size(), 38u);
    control.recipient = 0x21;
    control.requestType = 5;
    EXPECT_EQ(control.BeginTransfer(none, io)->bmRequestType(), 0x21);
    const std::pair<std::uint32_t, std::uint32_t> timeouts[] = {
        {500, 1}, {0, 0}, {999, 1}, {1000, 1}, {1999, 1}, {2500, 2}, {10000, 10}};
    for (const auto& [ms, seconds] : timeouts) {
        control.timeoutMs = ms;
        EXPECT_EQ(control.BeginTransfer(none, io)->timeoutSeconds(), seconds) << ms;
    }
    Bytes large(70000);
    const auto block = control.BeginTransfer(large, io);
    EXPECT_EQ(block->wLength(), 4464);
    EXPECT_EQ(block->dataLength(), 70000u);
}

TEST_F(EndpointTest, IsochronousBlocksCarryOnePacketRecordPerPacket) {
    CUsbIsocEndPoint isoc(device, handle, test::Endpoint(0x81, 1, 1024).data());
    Bytes buffer(3000, 0xEE);
    auto direct = isoc.BeginTransfer(buffer, io);
    EXPECT_EQ(device.calls.at(0).code, kIoctlDirectTransfer);
    EXPECT_EQ(device.calls[0].input, Block(62, {{13, 0x81}, {22, 38}, {26, 24}}));
    EXPECT_EQ(device.calls[0].output, buffer.data());
    isoc.transferMode = 0;
    auto block = isoc.BeginTransfer(buffer, io);
    EXPECT_EQ(device.calls.at(1).code, kIoctlBufferedTransfer);
    EXPECT_EQ(device.calls[1].input,
              Block(3062, {{13, 0x81}, {22, 38}, {26, 24}, {30, 62}, {34, 3000}}, 0xEE, 62));
    EXPECT_TRUE(trace.lines.empty());

    // Records are cut to the caller's array, cleared as far as the driver says and copied only
    // from what the block holds; a transfer that moved nothing leaves the array alone.
    std::ranges::fill(block->DataArea(3000), std::uint8_t{0x5A});
    std::ranges::fill(block->Area(38, 24), std::uint8_t{0x66});
    Bytes records(16, 0xEE);
    EXPECT_EQ(Finish(isoc, buffer, std::move(block), 3062, records), 3000);
    EXPECT_EQ(buffer, Bytes(3000, 0x5A));
    EXPECT_EQ(records, Bytes(16, 0x66));
    std::ranges::fill(direct->Area(38, 24), std::uint8_t{0x66});
    direct->SetIsoPacketLength(1000);
    records.assign(32, 0xEE);
    Finish(isoc, buffer, std::move(direct), 3000, records);
    EXPECT_EQ(Bytes(records.begin(), records.begin() + 24), Bytes(24, 0x66));
    EXPECT_EQ(Bytes(records.begin() + 24, records.end()), Bytes(8, 0));
    records.assign(8, 0xEE);
    EXPECT_EQ(Finish(isoc, buffer, isoc.BeginDirectTransfer(buffer, io), 0, records), 0);
    EXPECT_EQ(records, Bytes(8, 0xEE));

    for (const auto& [size, recordBytes] : {std::pair{2048, 16u}, {1, 8u}}) {
        Bytes data(size);
        EXPECT_EQ(isoc.BeginBufferedTransfer(data, io)->isoPacketLength(), recordBytes);
    }
    Bytes none;
    EXPECT_EQ(isoc.BeginDirectTransfer(none, io), nullptr);
    isoc.maxPacketSize = 0;
    EXPECT_EQ(isoc.BeginBufferedTransfer(buffer, io), nullptr);
}

TEST(DebugTrace, PrefixesTheLineAndCutsItToFitWithItsZero) {
    test::RecordingTrace trace;
    DebugTrace("%d %x\n", -5, 255u);
    DebugTrace("%s", std::string(200, 'm').c_str());
    EXPECT_EQ(trace.lines,
              (std::vector<std::string>{"<USBIO:> -5 ff\n", "<USBIO:> " + std::string(118, 'm')}));
}

}  // namespace
}  // namespace torvane
