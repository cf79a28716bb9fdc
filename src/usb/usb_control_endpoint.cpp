#include "usb/usb_control_endpoint.h"

#include <algorithm>

#include "usb/debug_trace.h"
#include "usb/io_control_codes.h"

namespace torvane {

CUsbControlEndPoint::CUsbControlEndPoint(DeviceInterfaces& system, DeviceHandle deviceHandle,
                                         const std::uint8_t* endpointDescriptor)
    : CUsbEndPoint(system, deviceHandle, endpointDescriptor) {
    transferMode = 0;
}

std::unique_ptr<RequestBlock> CUsbControlEndPoint::BeginTransfer(std::span<std::uint8_t> buffer,
                                                                 AsyncIo& overlapped) {
    if (!deviceHandle) {
        return nullptr;
    }
    const auto bmRequestType = static_cast<std::uint8_t>(
        (recipient & 0x1F) | (requestType & 3) << 5 | (direction & 1) << 7);
    isIn = direction == 1;
    auto block = std::make_unique<RequestBlock>(buffer.size() + RequestBlock::kHeaderSize);
    DebugTrace("Begin Control:0x%x Newbuf:0x%x\n", TraceValue(overlapped.event),
               TraceValue(block->bytes().data()));
    // Whole seconds, but a timeout under one second still waits one.
    const std::uint32_t timeoutSeconds = timeoutMs >= 1 && timeoutMs <= 999 ? 1 : timeoutMs / 1000;
    block->SetBmRequestType(bmRequestType);
    block->SetBRequest(bRequest);
    block->SetWValue(wValue);
    block->SetWIndex(wIndex);
    block->SetWLength(static_cast<std::uint16_t>(buffer.size()));
    block->SetTimeoutSeconds(timeoutSeconds);
    block->SetDataOffset(RequestBlock::kHeaderSize);
    block->SetDataLength(static_cast<std::uint32_t>(buffer.size()));
    std::ranges::copy(buffer, block->DataArea(buffer.size()).begin());
    // The statuses are read back at finish only.
    StartRequest(kIoctlControlTransfer, *block, block->bytes(), overlapped);
    return block;
}

}  // namespace torvane
