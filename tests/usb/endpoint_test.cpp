#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "usb/debug_trace.h"
#include "usb/usb_control_endpoint.h"
#include "usb/usb_isoc_endpoint.h"
#include "usb_test_support.h"

namespace torvane {
namespace {

using test::Bytes;

class EndpointTest : public ::testing::Test {
protected:
    // The trace line text with the event and the block's address filled in.
    static std::string Line(const char* format, const RequestBlock& block) {
        char line[128];
        std::snprintf(line, sizeof line, format, 0xABCD1234u, TraceValue(block.bytes().data()));
        return std::string("<USBIO:> ") + line;
    }
    // Finishes with the driver reporting bytes; finished keeps the result.
    std::int32_t Finish(CUsbEndPoint& endpoint, std::span<std::uint8_t> buffer,
                        std::unique_ptr<RequestBlock> block, std::uint32_t bytes,
                        std::span<std::uint8_t> records = {}) {
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
    CUsbBulkEndPoint bulkOut{device, handle, test::Endpoint(0x02, 2, 512).data()};
    CUsbInterruptEndPoint interruptIn{device, handle, test::Endpoint(0x81, 3, 512).data()};
    CUsbIsocEndPoint isoc{device, handle, test::Endpoint(0x81, 1, 1024).data()};
    CUsbControlEndPoint control{device, handle, nullptr};
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
}

// The driver's count includes the header. Received data is copied back for buffered IN transfers
// only, never beyond what was reported, what the block holds or what the buffer takes; the result
// needs the driver's success and both statuses 0.
TEST_F(EndpointTest, FinishCopiesBufferedInDataAndDecidesByResultAndStatuses) {
    control.direction = 1;
    const struct {
        CUsbEndPoint& endpoint;
        std::int32_t mode;
        bool ok;
        std::uint32_t reported, usbdStatus, ntStatus;
        std::int32_t length;
        std::size_t copied;
        const char* tail;
    } cases[] = {
        {bulkOut, 0, true, 550, 0, 0, 512, 0, "rResult:1 USBstatus:0 Ntstatus:0\n"},
        {interruptIn, 0, true, 138, 5, 0, 100, 100, "rResult:1 USBstatus:5 Ntstatus:0\n"},
        {interruptIn, 0, true, 0, 0, 0, 0, 0, "rResult:1 USBstatus:0 Ntstatus:0\n"},
        {interruptIn, 1, true, 512, 0, 0xC0000001, 512, 0,
         "rResult:1 USBstatus:0 Ntstatus:-1073741823\n"},
        {control, 0, false, 550, 0, 0, 512, 512, "rResult:0 USBstatus:0 Ntstatus:0\n"},
        {control, 1, true, 550, 0, 0, 512, 0, "rResult:1 USBstatus:0 Ntstatus:0\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        c.endpoint.transferMode = c.mode;
        device.resultOk = c.ok;
        Bytes buffer(512, 0xEE);
        auto block = c.endpoint.BeginTransfer(buffer, io);
        std::ranges::fill(block->Area(38, 512), std::uint8_t{0x5A});  // a direct block has none
        block->SetUsbdStatus(c.usbdStatus);
        block->SetNtStatus(c.ntStatus);
        const std::string line = Line("Finish :0x%x Delete:0x%x ", *block) + c.tail;
        EXPECT_EQ(Finish(c.endpoint, buffer, std::move(block), c.reported), c.length);
        EXPECT_EQ(c.endpoint.bytesTransferred, c.length);
        EXPECT_EQ(finished, c.ok && c.usbdStatus == 0 && c.ntStatus == 0);
        EXPECT_EQ(trace.lines.back(), line);
        Bytes expected(512, 0xEE);
        std::fill_n(expected.begin(), c.copied, std::uint8_t{0x5A});
        EXPECT_EQ(buffer, expected);
    }
    // A driver reporting far more than block and buffer hold, from a data offset it moved.
    interruptIn.transferMode = 0;
    Bytes small(16, 0xEE);
    auto block = interruptIn.BeginTransfer(small, io);
    block->SetDataOffset(22);
    const Bytes moved(block->bytes().begin() + 22, block->bytes().begin() + 38);
    EXPECT_EQ(Finish(interruptIn, small, std::move(block), 5000), 5000 - 22);
    EXPECT_EQ(small, moved);
}

// Records are cut to the caller's array, cleared as far as the driver says and copied only from
// what the block holds; a transfer that moved nothing leaves the array alone.
TEST_F(EndpointTest, IsochronousRecordsAreCopiedWithinBlockAndArray) {
    Bytes buffer(3000);
    auto block = isoc.BeginBufferedTransfer(buffer, io);
    std::ranges::fill(block->Area(38, 24), std::uint8_t{0x66});
    Bytes records(16, 0xEE);
    EXPECT_EQ(Finish(isoc, buffer, std::move(block), 3062, records), 3000);
    EXPECT_EQ(records, Bytes(16, 0x66));
    block = isoc.BeginDirectTransfer(buffer, io);
    std::ranges::fill(block->Area(38, 24), std::uint8_t{0x66});
    block->SetIsoPacketLength(1000);
    records.assign(32, 0xEE);
    Finish(isoc, buffer, std::move(block), 3000, records);
    Bytes expected(32, 0);
    std::fill_n(expected.begin(), 24, std::uint8_t{0x66});
    EXPECT_EQ(records, expected);
    records.assign(8, 0xEE);
    EXPECT_EQ(Finish(isoc, buffer, isoc.BeginDirectTransfer(buffer, io), 0, records), 0);
    EXPECT_EQ(records, Bytes(8, 0xEE));

    // One record per packet, rounded up; no packets, no transfer.
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
