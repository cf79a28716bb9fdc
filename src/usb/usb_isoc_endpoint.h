// An isochronous endpoint: its request blocks carry one 8-byte packet record per packet between
// the header and the data, which the driver fills and FinishTransfer hands to the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "usb/usb_endpoint.h"

namespace torvane {

class CUsbIsocEndPoint : public CUsbEndPoint {
public:
    using CUsbEndPoint::CUsbEndPoint;

    // Neither begin starts anything (nullptr) for a transfer of 0 bytes or on an endpoint with
    // maxPacketSize 0 (a zero-bandwidth setting). They write no trace line.
    std::unique_ptr<RequestBlock> BeginDirectTransfer(std::span<std::uint8_t> buffer,
                                                      AsyncIo& overlapped) override;
    std::unique_ptr<RequestBlock> BeginBufferedTransfer(std::span<std::uint8_t> buffer,
                                                        AsyncIo& overlapped) override;
    std::unique_ptr<RequestBlock> BeginTransfer(std::span<std::uint8_t> buffer,
                                                AsyncIo& overlapped) override;

private:
    // maxPacketSize-sized packets needed for length bytes; 0 when nothing can be sent.
    std::size_t PacketCount(std::size_t length) const;
    // A block of header, packet records and dataLength further bytes, its packet fields set.
    std::unique_ptr<RequestBlock> NewBlock(std::size_t packets, std::size_t dataLength) const;
};

}  // namespace torvane
