#include "usb/usb_isoc_endpoint.h"

#include <algorithm>

#include "usb/io_control_codes.h"

namespace torvane {

std::size_t CUsbIsocEndPoint::PacketCount(std::size_t length) const {
    if (maxPacketSize == 0) {
        return 0;
    }
    return length / maxPacketSize + (length % maxPacketSize != 0 ? 1 : 0);
}

std::unique_ptr<RequestBlock> CUsbIsocEndPoint::NewBlock(std::size_t packets,
                                                         std::size_t dataLength) const {
    const std::size_t recordBytes = packets * RequestBlock::kPacketRecordSize;
    auto block =
        std::make_unique<RequestBlock>(RequestBlock::kHeaderSize + recordBytes + dataLength);
    block->SetEndpointAddress(bEndpointAddress);
    block->SetIsoPacketOffset(RequestBlock::kHeaderSize);
    block->SetIsoPacketLength(static_cast<std::uint32_t>(recordBytes));
    return block;
}

std::unique_ptr<RequestBlock> CUsbIsocEndPoint::BeginBufferedTransfer(
    std::span<std::uint8_t> buffer, AsyncIo& overlapped) {
    const std::size_t packets = PacketCount(buffer.size());
    if (!deviceHandle || packets == 0) {
        return nullptr;
    }
    auto block = NewBlock(packets, buffer.size());
    block->SetDataOffset(
        static_cast<std::uint32_t>(RequestBlock::kHeaderSize + block->isoPacketLength()));
    block->SetDataLength(static_cast<std::uint32_t>(buffer.size()));
    std::ranges::copy(buffer, block->DataArea(buffer.size()).begin());
    StartRequest(kIoctlBufferedTransfer, *block, block->bytes(), overlapped);
    TakeStatuses(*block);
    return block;
}

std::unique_ptr<RequestBlock> CUsbIsocEndPoint::BeginDirectTransfer(std::span<std::uint8_t> buffer,
                                                                    AsyncIo& overlapped) {
    const std::size_t packets = PacketCount(buffer.size());
    if (!deviceHandle || packets == 0) {
        return nullptr;
    }
    auto block = NewBlock(packets, 0);
    StartRequest(kIoctlDirectTransfer, *block, buffer, overlapped);
    TakeStatuses(*block);
    return block;
}

std::unique_ptr<RequestBlock> CUsbIsocEndPoint::BeginTransfer(std::span<std::uint8_t> buffer,
                                                              AsyncIo& overlapped) {
    return BeginByMode(buffer, overlapped);
}

}  // namespace torvane
