// UsbFunction's answers, from its configuration and descriptor set: the driver's queries, the
// descriptors by type and index, and the endpoints of the active settings with the data they
// move.
#include "sim/usb_function.h"

#include <algorithm>

#include "usb/io_control_codes.h"
#include "usb/little_endian.h"

namespace torvane::sim {
namespace {

constexpr std::size_t kNameSize = 256;

constexpr std::uint8_t kDescriptorDevice = 1;
constexpr std::uint8_t kDescriptorConfiguration = 2;
constexpr std::uint8_t kDescriptorString = 3;
constexpr std::uint8_t kDescriptorInterface = 4;
constexpr std::uint8_t kDescriptorEndpoint = 5;
constexpr std::uint8_t kDescriptorBos = 15;
constexpr std::uint8_t kDescriptorCompanion = 0x30;

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

std::uint8_t UsbFunction::AlternateOfInterface0() const {
    const auto alternate = alternates_.find(0);
    return alternate == alternates_.end() ? 0 : alternate->second;
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
                     if (found->Isochronous()) {
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

}  // namespace torvane::sim
