// The request block the USB function driver carries out a control or data transfer from: a packed
// little-endian 38-byte header, then isochronous packet records and data where its offsets say.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "usb/little_endian.h"

namespace torvane {

class RequestBlock {
public:
    static constexpr std::size_t kHeaderSize = 38;
    // Size of one isochronous packet record; the driver fills them, we only pass them on.
    static constexpr std::size_t kPacketRecordSize = 8;

    // A zero-filled block of totalSize bytes, never smaller than the header.
    explicit RequestBlock(std::size_t totalSize);

    std::span<std::uint8_t> bytes() { return bytes_; }
    std::span<const std::uint8_t> bytes() const { return bytes_; }

    // count bytes from offset, cut to what the block holds (empty when offset lies beyond it).
    std::span<std::uint8_t> Area(std::size_t offset, std::size_t count);
    // count bytes of the data area at dataOffset, cut to the block.
    std::span<std::uint8_t> DataArea(std::size_t count) { return Area(dataOffset(), count); }

    std::uint8_t bmRequestType() const { return bytes_[0]; }
    std::uint8_t bRequest() const { return bytes_[1]; }
    std::uint16_t wValue() const { return Read16(2); }
    std::uint16_t wIndex() const { return Read16(4); }
    std::uint16_t wLength() const { return Read16(6); }
    std::uint32_t timeoutSeconds() const { return Read32(8); }
    std::uint8_t reserved() const { return bytes_[12]; }
    std::uint8_t endpointAddress() const { return bytes_[13]; }
    std::uint32_t ntStatus() const { return Read32(14); }
    std::uint32_t usbdStatus() const { return Read32(18); }
    std::uint32_t isoPacketOffset() const { return Read32(22); }
    std::uint32_t isoPacketLength() const { return Read32(26); }
    std::uint32_t dataOffset() const { return Read32(30); }
    std::uint32_t dataLength() const { return Read32(34); }

    void SetBmRequestType(std::uint8_t value) { bytes_[0] = value; }
    void SetBRequest(std::uint8_t value) { bytes_[1] = value; }
    void SetWValue(std::uint16_t value) { Write16(2, value); }
    void SetWIndex(std::uint16_t value) { Write16(4, value); }
    void SetWLength(std::uint16_t value) { Write16(6, value); }
    void SetTimeoutSeconds(std::uint32_t value) { Write32(8, value); }
    void SetReserved(std::uint8_t value) { bytes_[12] = value; }
    void SetEndpointAddress(std::uint8_t value) { bytes_[13] = value; }
    void SetNtStatus(std::uint32_t value) { Write32(14, value); }
    void SetUsbdStatus(std::uint32_t value) { Write32(18, value); }
    void SetIsoPacketOffset(std::uint32_t value) { Write32(22, value); }
    void SetIsoPacketLength(std::uint32_t value) { Write32(26, value); }
    void SetDataOffset(std::uint32_t value) { Write32(30, value); }
    void SetDataLength(std::uint32_t value) { Write32(34, value); }

private:
    std::uint16_t Read16(std::size_t offset) const { return ReadLe16(bytes_, offset); }
    std::uint32_t Read32(std::size_t offset) const { return ReadLe32(bytes_, offset); }
    void Write16(std::size_t offset, std::uint16_t value) { WriteLe16(bytes_, offset, value); }
    void Write32(std::size_t offset, std::uint32_t value) { WriteLe32(bytes_, offset, value); }

    std::vector<std::uint8_t> bytes_;
};

}  // namespace torvane
