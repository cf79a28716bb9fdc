#include "usb/usb_endpoint.h"

#include <algorithm>

#include "usb/debug_trace.h"
#include "usb/io_control_codes.h"

namespace torvane {

CUsbEndPoint::CUsbEndPoint(DeviceInterfaces& system, DeviceHandle deviceHandle,
                           const std::uint8_t* endpointDescriptor,
                           const std::uint8_t* companionDescriptor)
    : deviceHandle(deviceHandle), system_(system) {
    if (endpointDescriptor != nullptr) {
        const std::uint16_t wMaxPacketSize =
            static_cast<std::uint16_t>(endpointDescriptor[4] | endpointDescriptor[5] << 8);
        transactionsPerMicroframe = static_cast<std::uint16_t>(((wMaxPacketSize >> 11) & 3) + 1);
        bLength = endpointDescriptor[0];
        bDescriptorType = endpointDescriptor[1];
        bEndpointAddress = endpointDescriptor[2];
        bmAttributes = endpointDescriptor[3];
        maxPacketSize =
            static_cast<std::uint16_t>((wMaxPacketSize & 0x7FF) * transactionsPerMicroframe);
        bInterval = endpointDescriptor[6];
        isIn = (bEndpointAddress & 0x80) != 0;
    }
    if (companionDescriptor != nullptr) {
        companionLength = companionDescriptor[0];
        companionType = companionDescriptor[1];
        bMaxBurst = companionDescriptor[2];
        maxPacketSize = static_cast<std::uint16_t>(maxPacketSize * (bMaxBurst + 1));
        companionAttributes = companionDescriptor[3];
        // The Mult bits count for isochronous endpoints only.
        if ((bmAttributes & 3) == 1) {
            maxPacketSize =
                static_cast<std::uint16_t>(maxPacketSize * ((companionAttributes & 3) + 1));
        }
        wBytesPerInterval =
            static_cast<std::uint16_t>(companionDescriptor[4] | companionDescriptor[5] << 8);
    }
}

std::unique_ptr<RequestBlock> CUsbEndPoint::BeginBufferedTransfer(std::span<std::uint8_t> buffer,
                                                                  AsyncIo& overlapped) {
    if (!deviceHandle) {
        return nullptr;
    }
    auto block = std::make_unique<RequestBlock>(buffer.size() + RequestBlock::kHeaderSize);
    DebugTrace("Begin buf:0x%x Newbuf:0x%x\n", TraceValue(overlapped.event),
               TraceValue(block->bytes().data()));
    block->SetEndpointAddress(bEndpointAddress);
    block->SetDataOffset(RequestBlock::kHeaderSize);
    block->SetDataLength(static_cast<std::uint32_t>(buffer.size()));
    std::ranges::copy(buffer, block->DataArea(buffer.size()).begin());
    StartRequest(kIoctlBufferedTransfer, *block, block->bytes(), overlapped);
    TakeStatuses(*block);
    return block;
}

std::unique_ptr<RequestBlock> CUsbEndPoint::BeginDirectTransfer(std::span<std::uint8_t> buffer,
                                                                AsyncIo& overlapped) {
    if (!deviceHandle) {
        return nullptr;
    }
    DebugTrace("Begin direct\n");
    auto block = std::make_unique<RequestBlock>(RequestBlock::kHeaderSize);
    DebugTrace("Begin direct:0x%x Newbuf:0x%x\n", TraceValue(overlapped.event),
               TraceValue(block->bytes().data()));
    block->SetEndpointAddress(bEndpointAddress);
    StartRequest(kIoctlDirectTransfer, *block, buffer, overlapped);
    TakeStatuses(*block);
    return block;
}

bool CUsbEndPoint::FinishTransfer(std::span<std::uint8_t> buffer, std::int32_t& length,
                                  AsyncIo& overlapped, std::unique_ptr<RequestBlock> requestBlock,
                                  std::span<std::uint8_t> packetInfos) {
    if (!requestBlock) {
        return false;
    }
    RequestBlock& block = *requestBlock;
    std::uint32_t bytes = 0;
    const bool ok = system_.GetIoResult(deviceHandle, overlapped, bytes);
    // The driver's count includes the header in buffered and control transfers.
    length = bytes == 0 ? 0 : static_cast<std::int32_t>(bytes - block.dataOffset());
    bytesTransferred = length;
    TakeStatuses(block);
    if (length > 0) {
        if (isIn && transferMode == 0) {
            const auto received = block.DataArea(static_cast<std::size_t>(length));
            std::copy_n(received.begin(), std::min(received.size(), buffer.size()), buffer.begin());
        }
        if (!packetInfos.empty()) {
            const auto records = block.Area(block.isoPacketOffset(), block.isoPacketLength());
            const auto cleared = packetInfos.first(
                std::min<std::size_t>(block.isoPacketLength(), packetInfos.size()));
            std::ranges::fill(cleared, std::uint8_t{0});
            std::copy_n(records.begin(), std::min(records.size(), cleared.size()), cleared.begin());
        }
    }
    DebugTrace("Finish :0x%x Delete:0x%x rResult:%d USBstatus:%d Ntstatus:%d\n",
               TraceValue(overlapped.event), TraceValue(block.bytes().data()), ok ? 1 : 0,
               static_cast<int>(usbdStatus), static_cast<int>(ntStatus));
    return ok && usbdStatus == 0 && ntStatus == 0;
}

void CUsbEndPoint::StartRequest(std::uint32_t code, RequestBlock& block,
                                std::span<std::uint8_t> output, AsyncIo& overlapped) {
    SystemError error;
    system_.BeginIoControl(deviceHandle, code, block.bytes(), output, overlapped, error);
    lastError = error.code;
}

void CUsbEndPoint::TakeStatuses(const RequestBlock& block) {
    usbdStatus = block.usbdStatus();
    ntStatus = block.ntStatus();
}

std::unique_ptr<RequestBlock> CUsbEndPoint::BeginByMode(std::span<std::uint8_t> buffer,
                                                        AsyncIo& overlapped) {
    if (!deviceHandle) {
        return nullptr;
    }
    return transferMode == 1 ? BeginDirectTransfer(buffer, overlapped)
                             : BeginBufferedTransfer(buffer, overlapped);
}

std::unique_ptr<RequestBlock> CUsbBulkEndPoint::BeginTransfer(std::span<std::uint8_t> buffer,
                                                              AsyncIo& overlapped) {
    return BeginByMode(buffer, overlapped);
}

std::unique_ptr<RequestBlock> CUsbInterruptEndPoint::BeginTransfer(std::span<std::uint8_t> buffer,
                                                                   AsyncIo& overlapped) {
    return BeginByMode(buffer, overlapped);
}

}  // namespace torvane
