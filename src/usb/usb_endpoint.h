// Endpoint objects of an opened USB device: the fields of their descriptors, the packet sizes
// derived from them, the status of the last transfer, and the transfer engine. A transfer is a
// begin operation, which hands a request block to the USB function driver and returns it, and
// FinishTransfer, which collects the result once the caller has seen the AsyncIo complete.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "platform/device_interfaces.h"
#include "platform/types.h"
#include "usb/request_block.h"

namespace torvane {

class CUsbEndPoint {
public:
    // endpointDescriptor: 7 bytes, or nullptr when the creator sets the descriptor fields itself;
    // companionDescriptor: a 6-byte SuperSpeed Endpoint Companion, or nullptr.
    CUsbEndPoint(DeviceInterfaces& system, DeviceHandle deviceHandle,
                 const std::uint8_t* endpointDescriptor,
                 const std::uint8_t* companionDescriptor = nullptr);
    virtual ~CUsbEndPoint() = default;
    CUsbEndPoint(const CUsbEndPoint&) = delete;
    CUsbEndPoint& operator=(const CUsbEndPoint&) = delete;

    // Each begin starts a transfer of buffer.size() bytes (the data to send, or room for the data
    // to receive) and returns its request block; nullptr when nothing was started (no open
    // handle). Block, buffer and overlapped must stay valid until FinishTransfer.
    // Direct: the driver moves the data straight from or into buffer.
    virtual std::unique_ptr<RequestBlock> BeginDirectTransfer(std::span<std::uint8_t> buffer,
                                                              AsyncIo& overlapped);
    // Buffered: the data travels inside the block, in both directions.
    virtual std::unique_ptr<RequestBlock> BeginBufferedTransfer(std::span<std::uint8_t> buffer,
                                                                AsyncIo& overlapped);
    virtual std::unique_ptr<RequestBlock> BeginTransfer(std::span<std::uint8_t> buffer,
                                                        AsyncIo& overlapped) = 0;

    // Takes the result of the transfer started with requestBlock, without waiting, and frees the
    // block. length receives the data bytes the driver reported (negative when it reported fewer
    // than the block's header); received data of a buffered IN transfer is copied into buffer and
    // isochronous packet records into packetInfos, each cut to what block and destination hold.
    // True when the driver completed the request and left both statuses 0. A null block
    // touches nothing and gives false.
    bool FinishTransfer(std::span<std::uint8_t> buffer, std::int32_t& length, AsyncIo& overlapped,
                        std::unique_ptr<RequestBlock> requestBlock,
                        std::span<std::uint8_t> packetInfos = {});

    DeviceHandle deviceHandle;
    std::uint8_t bLength = 0;
    std::uint8_t bDescriptorType = 0;
    std::uint8_t bEndpointAddress = 0;  // bit 7: IN
    std::uint8_t bmAttributes = 0;      // bits 0 and 1: transfer type
    // Bytes per service interval: packet size x transactions x burst (x Mult for isochronous
    // SuperSpeed endpoints), cut to 16 bits.
    std::uint16_t maxPacketSize = 0;
    std::uint16_t transactionsPerMicroframe = 0;  // 1 to 4
    std::uint8_t bInterval = 0;
    // The SuperSpeed Endpoint Companion's fields; all 0 without one.
    std::uint8_t companionLength = 0;
    std::uint8_t companionType = 0;
    std::uint8_t bMaxBurst = 0;
    std::uint8_t companionAttributes = 0;
    std::uint16_t wBytesPerInterval = 0;
    std::uint32_t timeoutMs = 10000;  // control transfers only
    // Read back from the last request block.
    std::uint32_t usbdStatus = 0;
    std::uint32_t ntStatus = 0;
    std::int32_t bytesTransferred = 0;  // data bytes of the last finished transfer
    std::uint32_t lastError = 0;        // the seam's error code of the last begin
    bool isIn = false;
    std::int32_t transferMode = 1;  // 1 direct, 0 buffered

protected:
    // Hands block to the driver with code, output being where the driver writes back; keeps the
    // seam's error code in lastError. The request's immediate result is not examined.
    void StartRequest(std::uint32_t code, RequestBlock& block, std::span<std::uint8_t> output,
                      AsyncIo& overlapped);
    void TakeStatuses(const RequestBlock& block);
    // BeginTransfer of data endpoints: direct when transferMode is 1, buffered otherwise.
    std::unique_ptr<RequestBlock> BeginByMode(std::span<std::uint8_t> buffer, AsyncIo& overlapped);

private:
    DeviceInterfaces& system_;
};

class CUsbBulkEndPoint : public CUsbEndPoint {
public:
    using CUsbEndPoint::CUsbEndPoint;
    std::unique_ptr<RequestBlock> BeginTransfer(std::span<std::uint8_t> buffer,
                                                AsyncIo& overlapped) override;
};

class CUsbInterruptEndPoint : public CUsbEndPoint {
public:
    using CUsbEndPoint::CUsbEndPoint;
    std::unique_ptr<RequestBlock> BeginTransfer(std::span<std::uint8_t> buffer,
                                                AsyncIo& overlapped) override;
};

}  // namespace torvane
