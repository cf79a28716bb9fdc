// CUsbDevice: descriptor retrieval, each descriptor by GET_DESCRIPTOR requests through the
// function driver's control transfer, its header first and then its whole length.
#include "usb/usb_device.h"

#include <algorithm>
#include <cstring>

#include "usb/io_control_codes.h"
#include "usb/little_endian.h"
#include "usb/request_block.h"

namespace torvane {
namespace {

constexpr std::uint8_t kDeviceDescriptorType = 1;
constexpr std::uint8_t kConfigurationDescriptorType = 2;
constexpr std::uint8_t kStringDescriptorType = 3;
constexpr std::uint8_t kBosDescriptorType = 15;
constexpr std::uint8_t kGetDescriptor = 6;
constexpr std::uint8_t kDeviceToHost = 0x80;
constexpr std::uint32_t kStandardRequestTimeoutSeconds = 5;
constexpr std::uint16_t kEnglishUnitedStates = 0x0409;

}  // namespace

std::optional<std::span<const std::uint8_t>> CUsbDevice::GetDescriptor(
    std::uint8_t type, std::uint8_t index, std::uint16_t wIndex, std::uint16_t length,
    RequestBlock& block, bool copyNtStatus) {
    block.SetBmRequestType(kDeviceToHost);
    block.SetBRequest(kGetDescriptor);
    block.SetWValue(static_cast<std::uint16_t>(type << 8 | index));
    block.SetWIndex(wIndex);
    block.SetWLength(length);
    block.SetTimeoutSeconds(kStandardRequestTimeoutSeconds);
    block.SetDataOffset(RequestBlock::kHeaderSize);
    block.SetDataLength(length);
    const bool ok = SendIoControl(kIoctlControlTransfer, block.bytes());
    usbdStatus = block.usbdStatus();
    if (copyNtStatus) {
        ntStatus = block.ntStatus();
    }
    const std::span<const std::uint8_t> answer = block.DataArea(length);
    if (!ok || answer.size() < length) {
        return std::nullopt;
    }
    return answer;
}

void CUsbDevice::FetchDeviceDescriptor() {
    deviceDescriptor.fill(0);
    RequestBlock block(RequestBlock::kHeaderSize + deviceDescriptor.size());
    const auto answer = GetDescriptor(kDeviceDescriptorType, 0, 0, deviceDescriptor.size(), block);
    if (!answer) {
        return;
    }
    std::copy(answer->begin(), answer->end(), deviceDescriptor.begin());
    const std::span<const std::uint8_t> d = deviceDescriptor;
    bcdUSB = ReadLe16(d, 2);
    bDeviceClass = d[4];
    bDeviceSubClass = d[5];
    bDeviceProtocol = d[6];
    idVendor = ReadLe16(d, 8);
    idProduct = ReadLe16(d, 10);
    bcdDevice = ReadLe16(d, 12);
    configCount = d[17];
    // USB 3.x gives the control endpoint's packet size as a power of two; earlier versions
    // give it in bytes.
    const std::uint8_t size = d[7];
    if (bcdUSB >> 8 <= 0x02) {
        maxPacketSize0 = size;
    } else {
        maxPacketSize0 = size < 16 ? 1 << size : 0;
    }
}

void CUsbDevice::FetchLanguageId() {
    cmnDescriptor_.fill(0);
    RequestBlock header(RequestBlock::kHeaderSize + cmnDescriptor_.size());
    const auto first = GetDescriptor(kStringDescriptorType, 0, 0, 2, header, false);
    if (!first) {
        return;
    }
    std::copy(first->begin(), first->end(), cmnDescriptor_.begin());
    const std::uint8_t length = cmnDescriptor_[0];
    RequestBlock table(RequestBlock::kHeaderSize + length);
    const auto answer = GetDescriptor(kStringDescriptorType, 0, 0, length, table, false);
    if (!answer) {
        return;
    }
    const int ids = (static_cast<int>(length) - 2) / 2;
    languageId = ids >= 1 ? ReadLe16(*answer, 2) : 0;
    for (int i = 0; i < ids; ++i) {
        if (ReadLe16(*answer, 2 + 2 * static_cast<std::size_t>(i)) == kEnglishUnitedStates) {
            languageId = kEnglishUnitedStates;
        }
    }
}

void CUsbDevice::FetchStringDescriptor(std::array<char16_t, 256>& dest, std::uint8_t index) {
    cmnDescriptor_.fill(0);
    RequestBlock header(RequestBlock::kHeaderSize + cmnDescriptor_.size());
    const auto first = GetDescriptor(kStringDescriptorType, index, languageId, 2, header);
    if (!first) {
        return;
    }
    std::copy(first->begin(), first->end(), cmnDescriptor_.begin());
    const std::uint8_t requested = cmnDescriptor_[0];
    RequestBlock block(RequestBlock::kHeaderSize + requested);
    const auto answer = GetDescriptor(kStringDescriptorType, index, languageId, requested, block);
    if (!answer || requested < 2) {
        return;
    }
    const std::uint8_t length = (*answer)[0];
    if (length <= 2 || (*answer)[1] != kStringDescriptorType) {
        return;
    }
    std::fill_n(dest.begin(), 128, u'\0');
    // The text never takes more than was asked for, and a terminating zero always stays.
    const std::size_t bytes = std::min<std::size_t>(length - 2, requested - 2);
    std::memcpy(dest.data(), answer->data() + 2, std::min<std::size_t>(bytes, 2 * 127));
}

void CUsbDevice::FetchConfigDescriptor(std::uint8_t index) {
    if (index >= kConfigSlots) {
        return;
    }
    RequestBlock header(RequestBlock::kHeaderSize + 9);
    const auto first = GetDescriptor(kConfigurationDescriptorType, index, 0, 9, header);
    if (!first) {
        return;
    }
    const std::uint16_t total = ReadLe16(*first, 2);
    RequestBlock block(RequestBlock::kHeaderSize + total);
    const auto answer = GetDescriptor(kConfigurationDescriptorType, index, 0, total, block);
    if (!answer) {
        return;
    }
    configDescriptors[index].assign(answer->begin(), answer->end());
}

bool CUsbDevice::FetchBosDescriptor() {
    RequestBlock header(RequestBlock::kHeaderSize + 5);
    const auto first = GetDescriptor(kBosDescriptorType, 0, 0, 5, header);
    if (!first) {
        return false;
    }
    const std::uint16_t total = ReadLe16(*first, 2);
    RequestBlock block(RequestBlock::kHeaderSize + total);
    const auto answer = GetDescriptor(kBosDescriptorType, 0, 0, total, block);
    if (!answer) {
        return false;
    }
    bosDescriptorBlock.assign(answer->begin(), answer->end());
    return true;
}

}  // namespace torvane
