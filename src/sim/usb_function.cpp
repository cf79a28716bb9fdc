// UsbFunction on the bus and its request blocks: the knobs, the dispatch of the driver's codes,
// and the control and data transfers, each checked and completed with its statuses.
#include "sim/usb_function.h"

#include <algorithm>

#include "usb/io_control_codes.h"
#include "usb/little_endian.h"

namespace torvane::sim {
namespace {

constexpr std::size_t kHeaderSize = 38;
constexpr std::size_t kRecordSize = 8;

// The request block header; the caller has checked that the block holds one.
struct Header {
    std::uint8_t requestType;
    std::uint8_t request;
    std::uint16_t value;
    std::uint16_t index;
    std::uint16_t length;
    std::uint8_t endpoint;
    std::uint32_t isoOffset;
    std::uint32_t isoLength;
    std::uint32_t dataOffset;
    std::uint32_t dataLength;
};

Header ReadHeader(std::span<const std::uint8_t> block) {
    return {block[0],
            block[1],
            ReadLe16(block, 2),
            ReadLe16(block, 4),
            ReadLe16(block, 6),
            block[13],
            ReadLe32(block, 22),
            ReadLe32(block, 26),
            ReadLe32(block, 30),
            ReadLe32(block, 34)};
}

// True when offset and length name bytes of the block past its header.
bool Within(std::uint32_t offset, std::uint32_t length, std::size_t blockSize) {
    return offset >= kHeaderSize && std::uint64_t{offset} + length <= blockSize;
}

// Completes a request block with these statuses; the answer is the header and bytes of data.
void SetStatus(std::span<std::uint8_t> block, std::uint32_t ntStatus, std::uint32_t usbdStatus) {
    WriteLe32(block, 14, ntStatus);
    WriteLe32(block, 18, usbdStatus);
}

// One record per packet: u32 USBD status, u32 bytes of the packet, the moved bytes spread over
// the packets in order.
void FillRecords(std::span<std::uint8_t> records, std::size_t moved, std::size_t packetBytes) {
    for (std::size_t at = 0; at + kRecordSize <= records.size(); at += kRecordSize) {
        const std::size_t bytes = std::min(moved, packetBytes);
        WriteLe32(records, at, 0);
        WriteLe32(records, at + 4, static_cast<std::uint32_t>(bytes));
        moved -= bytes;
    }
}

}  // namespace

UsbFunction::UsbFunction(UsbFunctionConfig config) : config_(std::move(config)) {}

std::optional<SimInterface> UsbFunction::Interface(std::uint32_t) {
    if (!present_) {
        return std::nullopt;
    }
    SimInterface shown;
    shown.classGuid = kUsbFunctionClassGuid;
    shown.locationPath = config_.locationPath;
    const DescriptorBytes& device = config_.descriptors.device;
    if (device.size() >= 14) {
        shown.vendorId = ReadLe16(device, 8);
        shown.productId = ReadLe16(device, 10);
        shown.versionNumber = ReadLe16(device, 12);
    }
    shown.generation = generation_;
    return shown;
}

void UsbFunction::SetAlternateSetting(std::uint8_t alternate) {
    std::lock_guard lock(mutex());
    alternates_[0] = alternate;
}

void UsbFunction::EditControlAnswers(std::function<void(std::span<std::uint8_t>)> edit) {
    std::lock_guard lock(mutex());
    edit_ = std::move(edit);
}

void UsbFunction::SetPresent(bool present) {
    std::lock_guard lock(mutex());
    if (present && !present_) {
        ++generation_;
    }
    present_ = present;
}

std::vector<std::uint8_t> UsbFunction::Received(std::uint8_t address) const {
    std::lock_guard lock(mutex());
    const auto received = received_.find(address);
    return received == received_.end() ? std::vector<std::uint8_t>() : received->second;
}

bool UsbFunction::IoControl(std::uint32_t, std::uint32_t code, std::span<std::uint8_t> input,
                            std::span<std::uint8_t> output, std::uint32_t& bytesReturned,
                            SystemError& error) {
    bytesReturned = 0;
    Answer answer;
    if (code == kIoctlDirectTransfer) {
        // The caller's buffer is the driver's to write, as far as the answer reaches.
        answer = DirectTransfer(input, output);
    } else {
        // A buffered request works on the system's copy of the request; only the bytes that the
        // answer counts go back to the caller.
        std::vector<std::uint8_t> system(output.size());
        const std::size_t requestSize = std::min(input.size(), output.size());
        std::copy_n(input.begin(), requestSize, system.begin());
        const std::span<std::uint8_t> block = std::span(system).first(requestSize);
        if (code == kIoctlControlTransfer) {
            answer = ControlTransfer(block);
            if (answer.ok && edit_) {
                edit_(block);
            }
        } else if (code == kIoctlBufferedTransfer) {
            answer = BufferedTransfer(block);
        } else {
            answer = Query(code, system);
        }
        if (answer.ok) {
            std::copy_n(system.begin(), answer.bytes, output.begin());
        }
    }
    if (!answer.ok) {
        error.code = answer.error;
        return false;
    }
    bytesReturned = answer.bytes;
    return true;
}

UsbFunction::Answer UsbFunction::ControlTransfer(std::span<std::uint8_t> block) {
    if (block.size() < kHeaderSize) {
        return {false, 0, kErrorInvalidParameter};
    }
    const Header header = ReadHeader(block);
    if (!Within(header.dataOffset, header.dataLength, block.size()) ||
        header.length > header.dataLength) {
        SetStatus(block, kNtStatusInvalidParameter, kUsbdStatusInvalidParameter);
        return {true, kHeaderSize, 0};
    }
    const std::optional<std::size_t> moved =
        Setup(header.requestType, header.request, header.value, header.index,
              block.subspan(header.dataOffset, header.length));
    if (!moved) {
        SetStatus(block, kNtStatusUnsuccessful, kUsbdStatusStallPid);
        return {true, kHeaderSize, 0};
    }
    SetStatus(block, 0, 0);
    return {true, static_cast<std::uint32_t>(header.dataOffset + *moved), 0};
}

UsbFunction::Answer UsbFunction::BufferedTransfer(std::span<std::uint8_t> block) {
    if (block.size() < kHeaderSize) {
        return {false, 0, kErrorInvalidParameter};
    }
    const Header header = ReadHeader(block);
    const std::optional<Endpoint> endpoint = FindEndpoint(header.endpoint);
    if (!endpoint) {
        SetStatus(block, kNtStatusInvalidParameter, kUsbdStatusInvalidPipeHandle);
        return {true, kHeaderSize, 0};
    }
    const bool isochronous = endpoint->Isochronous();
    if (!Within(header.dataOffset, header.dataLength, block.size()) ||
        (isochronous && (header.isoLength == 0 || header.isoLength % kRecordSize != 0 ||
                         !Within(header.isoOffset, header.isoLength, block.size())))) {
        SetStatus(block, kNtStatusInvalidParameter, kUsbdStatusInvalidParameter);
        return {true, kHeaderSize, 0};
    }
    std::span<std::uint8_t> data = block.subspan(header.dataOffset, header.dataLength);
    if (isochronous) {
        const std::size_t packets = header.isoLength / kRecordSize;
        data = data.first(std::min<std::size_t>(data.size(), packets * endpoint->packetBytes));
    }
    const std::size_t moved = Move(*endpoint, data);
    if (isochronous) {
        FillRecords(block.subspan(header.isoOffset, header.isoLength), moved,
                    endpoint->packetBytes);
    }
    SetStatus(block, 0, 0);
    return {true, static_cast<std::uint32_t>(header.dataOffset + moved), 0};
}

UsbFunction::Answer UsbFunction::DirectTransfer(std::span<std::uint8_t> header,
                                                std::span<std::uint8_t> data) {
    if (header.size() < kHeaderSize) {
        return {false, 0, kErrorInvalidParameter};
    }
    const Header fields = ReadHeader(header);
    const std::optional<Endpoint> endpoint = FindEndpoint(fields.endpoint);
    if (!endpoint) {
        SetStatus(header, kNtStatusInvalidParameter, kUsbdStatusInvalidPipeHandle);
        return {true, 0, 0};
    }
    const bool isochronous = endpoint->Isochronous();
    if (isochronous && (fields.isoLength == 0 || fields.isoLength % kRecordSize != 0 ||
                        !Within(fields.isoOffset, fields.isoLength, header.size()))) {
        SetStatus(header, kNtStatusInvalidParameter, kUsbdStatusInvalidParameter);
        return {true, 0, 0};
    }
    if (isochronous) {
        const std::size_t packets = fields.isoLength / kRecordSize;
        data = data.first(std::min<std::size_t>(data.size(), packets * endpoint->packetBytes));
    }
    const std::size_t moved = Move(*endpoint, data);
    if (isochronous) {
        FillRecords(header.subspan(fields.isoOffset, fields.isoLength), moved,
                    endpoint->packetBytes);
    }
    SetStatus(header, 0, 0);
    return {true, static_cast<std::uint32_t>(moved), 0};
}

}  // namespace torvane::sim
