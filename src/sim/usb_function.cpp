#include "sim/usb_function.h"

#include <algorithm>

#include "usb/io_control_codes.h"
#include "usb/little_endian.h"

namespace torvane::sim {
namespace {

constexpr std::size_t kHeaderSize = 38;
constexpr std::size_t kNameSize = 256;
constexpr std::size_t kRecordSize = 8;

constexpr std::uint8_t kDescriptorDevice = 1;
constexpr std::uint8_t kDescriptorConfiguration = 2;
constexpr std::uint8_t kDescriptorString = 3;
constexpr std::uint8_t kDescriptorInterface = 4;
constexpr std::uint8_t kDescriptorEndpoint = 5;
constexpr std::uint8_t kDescriptorBos = 15;
constexpr std::uint8_t kDescriptorCompanion = 0x30;
constexpr std::uint8_t kTypeIsochronous = 1;

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

std::uint8_t UsbFunction::AlternateOfInterface0() const {
    const auto alternate = alternates_.find(0);
    return alternate == alternates_.end() ? 0 : alternate->second;
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

UsbFunction::Answer UsbFunction::Query(std::uint32_t code, std::span<std::uint8_t> reply) const {
    std::vector<std::uint8_t> value;
    const auto u32 = [&value](std::uint32_t v) {
        value.resize(4);
        WriteLe32(value, 0, v);
    };
    const auto name = [&value](const std::string& text) {
        value.assign(kNameSize, 0);
        std::copy_n(text.begin(), std::min(text.size(), kNameSize - 1), value.begin());
    };
    switch (code) {
        case kIoctlDriverVersion:
            u32(config_.driverVersion);
            break;
        case kIoctlUsbdiVersion:
            u32(config_.usbdiVersion);
            break;
        case kIoctlAltSetting:
            value = {AlternateOfInterface0()};
            break;
        case kIoctlUsbAddress:
            value = {config_.usbAddress};
            break;
        case kIoctlDeviceName:
            name(config_.deviceName);
            break;
        case kIoctlFriendlyName:
            name(config_.friendlyName);
            break;
        case kIoctlSpeed:
            u32(config_.descriptors.speed);
            break;
        default:
            return {false, 0, kErrorInvalidFunction};
    }
    if (reply.size() < value.size()) {
        return {false, 0, kErrorInsufficientBuffer};
    }
    std::copy(value.begin(), value.end(), reply.begin());
    return {true, static_cast<std::uint32_t>(value.size()), 0};
}

namespace {

// Completes a request block with these statuses; the answer is the header and bytes of data.
void SetStatus(std::span<std::uint8_t> block, std::uint32_t ntStatus, std::uint32_t usbdStatus) {
    WriteLe32(block, 14, ntStatus);
    WriteLe32(block, 18, usbdStatus);
}

}  // namespace

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

std::optional<std::size_t> UsbFunction::Setup(std::uint8_t requestType, std::uint8_t request,
                                              std::uint16_t value, std::uint16_t index,
                                              std::span<std::uint8_t> data) {
    constexpr std::uint8_t kGetDescriptor = 6;
    if (requestType != 0x80 || request != kGetDescriptor) {  // standard, to host, device
        return std::nullopt;
    }
    const DescriptorBytes* descriptor =
        Descriptor(static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value), index);
    if (descriptor == nullptr) {
        return std::nullopt;
    }
    const std::size_t n = std::min(data.size(), descriptor->size());
    std::copy_n(descriptor->begin(), n, data.begin());
    return n;
}

const DescriptorBytes* UsbFunction::Descriptor(std::uint8_t type, std::uint8_t index,
                                               std::uint16_t language) const {
    const DescriptorSet& set = config_.descriptors;
    switch (type) {
        case kDescriptorDevice:
            return index == 0 ? &set.device : nullptr;
        case kDescriptorConfiguration:
            return index < set.configurations.size() ? &set.configurations[index] : nullptr;
        case kDescriptorString: {
            if (index >= set.strings.size()) {
                return nullptr;
            }
            if (index == 0) {
                return &set.strings[0];
            }
            // Strings exist in the languages of the table only.
            const DescriptorBytes& table = set.strings[0];
            for (std::size_t at = 2; at + 1 < table.size(); at += 2) {
                if (ReadLe16(table, at) == language) {
                    return &set.strings[index];
                }
            }
            return nullptr;
        }
        case kDescriptorBos:
            return index == 0 && !set.bos.empty() ? &set.bos : nullptr;
        default:
            return nullptr;
    }
}

namespace {

// Calls visit(type, descriptor) for each descriptor of a configuration block, in order, as far
// as the block holds whole descriptors; visit returns false to stop.
template <typename Visit>
void Walk(std::span<const std::uint8_t> block, Visit visit) {
    for (std::size_t at = 0; at + 2 <= block.size();) {
        const std::size_t length = block[at];
        if (length < 2 || at + length > block.size() ||
            !visit(block[at + 1], block.subspan(at, length))) {
            return;
        }
        at += length;
    }
}

}  // namespace

std::optional<UsbFunction::Endpoint> UsbFunction::FindEndpoint(std::uint8_t address) const {
    if (config_.descriptors.configurations.empty()) {
        return std::nullopt;
    }
    std::optional<Endpoint> found;
    bool active = false;
    Walk(config_.descriptors.configurations[0],
         [&](std::uint8_t type, std::span<const std::uint8_t> d) {
             if (found) {
                 // A SuperSpeed endpoint's companion follows it and multiplies its packets.
                 if (type == kDescriptorCompanion && d.size() >= 6) {
                     found->packetBytes *= d[2] + 1u;
                     if (found->type == kTypeIsochronous) {
                         found->packetBytes *= (d[3] & 3u) + 1;
                     }
                 }
                 return false;
             }
             if (type == kDescriptorInterface && d.size() >= 9) {
                 const auto alternate = alternates_.find(d[2]);
                 active = d[3] == (alternate == alternates_.end() ? 0 : alternate->second);
             } else if (type == kDescriptorEndpoint && d.size() >= 7 && active && d[2] == address) {
                 const std::uint16_t size = ReadLe16(d, 4);
                 found = Endpoint{address, static_cast<std::uint8_t>(d[3] & 3),
                                  (size & 0x7FFu) * (((size >> 11) & 3u) + 1)};
             }
             return true;
         });
    return found;
}

std::size_t UsbFunction::Move(const Endpoint& endpoint, std::span<std::uint8_t> data) {
    if ((endpoint.address & 0x80) == 0) {
        std::vector<std::uint8_t>& received = received_[endpoint.address];
        received.insert(received.end(), data.begin(), data.end());
        loopback_.insert(loopback_.end(), data.begin(), data.end());
        return data.size();
    }
    if (loopback_.empty()) {
        for (std::size_t i = 0; i < data.size(); ++i) {
            data[i] = static_cast<std::uint8_t>(endpoint.address + i);
        }
        return data.size();
    }
    const std::size_t n = std::min(data.size(), loopback_.size());
    std::copy_n(loopback_.begin(), n, data.begin());
    loopback_.erase(loopback_.begin(), loopback_.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
}

namespace {

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
    const bool isochronous = endpoint->type == kTypeIsochronous;
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
    const bool isochronous = endpoint->type == kTypeIsochronous;
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
