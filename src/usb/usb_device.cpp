#include "usb/usb_device.h"

#include <algorithm>
#include <cstring>

#include "usb/debug_trace.h"
#include "usb/io_control_codes.h"
#include "usb/little_endian.h"
#include "usb/request_block.h"
#include "usb/text_error.h"

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
constexpr std::size_t kConfigSlots = 2;

// Copies text into a fixed buffer, cut so that a terminating zero always fits after it; the
// rest of the buffer is cleared.
template <std::size_t N>
void CopyCut(std::array<char, N>& buffer, const std::string& text) {
    buffer.fill('\0');
    std::copy_n(text.begin(), std::min(text.size(), N - 1), buffer.begin());
}

}  // namespace

CUsbDevice::CUsbDevice(DeviceInterfaces& system, MessageSink& messages, WindowHandle window,
                       Guid guid, bool openFirst)
    : notifyWindow(window), interfaceGuid(guid), system_(system), messages_(messages) {
    if (notifyWindow) {
        RegisterInterfaceNotification(notifyWindow);
    }
    if (openFirst) {
        OpenDevice(deviceIndex);
    }
}

CUsbDevice::~CUsbDevice() {
    // The object goes whatever the system says: a refused close is traced, never shown.
    if (const char* failure = CloseHandle()) {
        DebugTrace("%s\n", failure);
    } else {
        ForgetDevice();
    }
    if (interfaceNotification) {
        SystemError error;
        if (!system_.UnregisterNotification(interfaceNotification, error)) {
            DebugTrace("Failed to close the device notification handle.\n");
        }
        interfaceNotification = {};
    }
}

bool CUsbDevice::RegisterInterfaceNotification(WindowHandle window) {
    SystemError error;
    interfaceNotification = system_.RegisterInterfaceNotification(window, interfaceGuid, error);
    if (!interfaceNotification) {
        lastError = error.code;
        return false;
    }
    return true;
}

void CUsbDevice::UseEnumeration(std::optional<std::vector<InterfaceEntry>> snapshot) {
    snapshotInUse_ = true;
    entries_ = std::move(snapshot);
}

const std::optional<std::vector<InterfaceEntry>>& CUsbDevice::Enumerate() {
    if (!snapshotInUse_) {
        entries_ = system_.Enumerate(interfaceGuid);
    }
    return entries_;
}

std::uint8_t CUsbDevice::CountDevices() {
    deviceCount = 0;
    const auto& entries = Enumerate();
    if (!entries) {
        return 0;
    }
    for (const InterfaceEntry& entry : *entries) {
        // The count is 8-bit: interfaces past the 255th are not counted.
        if (entry.present && deviceCount < 0xFF) {
            ++deviceCount;
        }
    }
    return deviceCount;
}

bool CUsbDevice::OpenHandle(std::uint8_t index) {
    // The location is the one this interface gives, or none: never the one an earlier open read.
    locationPaths.fill('\0');
    locationInformation.fill('\0');
    deviceCount = CountDevices();
    if (deviceCount == 0 || index > deviceCount - 1) {
        return false;
    }
    // At most one handle per object: from here on, a handle still open from an earlier open is
    // closed on every way out, never just dropped.
    const auto& entries = Enumerate();
    if (!entries) {
        ReleaseHandle();
        deviceIndex = 0;
        return false;
    }
    if (index < entries->size()) {
        const InterfaceEntry& element = (*entries)[index];
        // Cut to the field, a first path longer than 255 characters would leave a prefix that
        // other ports can share: it identifies nothing, so the device gets no location path.
        if (const auto& paths = element.locationPaths;
            paths && std::min(paths->find('\0'), paths->size()) < locationPaths.size()) {
            CopyCut(locationPaths, *paths);
        }
        if (element.locationInformation) {
            CopyCut(locationInformation, *element.locationInformation);
        }
    }
    if (index >= entries->size() || !(*entries)[index].present || !(*entries)[index].devicePath) {
        ReleaseHandle();
        deviceIndex = 0;
        return false;
    }
    CopyCut(devicePath, *(*entries)[index].devicePath);
    if (!ReleaseHandle()) {
        return false;
    }
    SystemError error;
    const DeviceHandle handle = system_.Open(devicePath.data(), error);
    if (!handle) {
        lastError = error.code;
        return false;
    }
    deviceHandle = handle;
    return true;
}

bool CUsbDevice::OpenDevice(std::uint8_t index) {
    if (deviceHandle && !CloseDevice()) {
        return false;
    }
    if (!OpenHandle(index)) {
        deviceHandle = {};
        deviceIndex = 0;
        return false;
    }
    deviceIndex = index;

    FetchDeviceDescriptor();
    FetchLanguageId();
    FetchStringDescriptor(manufacturer, deviceDescriptor[14]);
    FetchStringDescriptor(product, deviceDescriptor[15]);
    FetchStringDescriptor(serialNumber, deviceDescriptor[16]);

    if (bcdUSB >> 8 == 0x03 && FetchBosDescriptor()) {
        try {
            bosObject = std::make_unique<CUsbBosObject>(bosDescriptorBlock);
        } catch (const TextError&) {
            messages_.ShowMessage("Please correct firmware BOS descriptor table",
                                  "Wrong BOS Descriptor");
            CloseDevice();
            return false;
        }
    }

    QueryUsbAddress();
    QueryDeviceName();
    QueryFriendlyName();
    QueryDriverVersion();
    QueryUsbdiVersion();
    QuerySpeed();

    const bool superSpeedWalk = bcdUSB >> 8 != 0x02;
    // Two configuration slots: configurations past the second are not fetched.
    const std::size_t configs = std::min<std::size_t>(configCount, kConfigSlots);
    for (std::size_t i = 0; i < configs; ++i) {
        FetchConfigDescriptor(static_cast<std::uint8_t>(i));
        if (configDescriptors[i].empty()) {
            continue;
        }
        try {
            configurations[i] = std::make_unique<CUsbConfiguration>(
                system_, deviceHandle, configDescriptors[i], superSpeedWalk);
        } catch (const TextError&) {
            messages_.ShowMessage("Please correct firmware descriptor table",
                                  "Wrong Device Configuration");
            CloseDevice();
            return false;
        }
    }

    controlEndpoint = std::make_unique<CUsbControlEndPoint>(system_, deviceHandle, nullptr);
    controlEndpoint->bLength = 7;
    controlEndpoint->bDescriptorType = 5;
    controlEndpoint->bEndpointAddress = 0;
    controlEndpoint->bmAttributes = 0;
    controlEndpoint->maxPacketSize = static_cast<std::uint16_t>(maxPacketSize0);
    controlEndpoint->bInterval = 0;

    if (!configurations[0] || !configurations[0]->interfaces[0]) {
        return false;
    }
    SelectConfiguration(0);
    if (interfaceNotification) {
        SystemError error;
        handleNotification = system_.RegisterHandleNotification(notifyWindow, deviceHandle, error);
    }
    return true;
}

const char* CUsbDevice::CloseHandle() {
    if (!deviceHandle) {
        return nullptr;
    }
    SystemError error;
    if (handleNotification && !system_.UnregisterNotification(handleNotification, error)) {
        lastError = error.code;
        return "Failed to close the handle notification handle.";
    }
    if (!system_.Close(deviceHandle, error)) {
        lastError = error.code;
        return "Failed to close handle to driver.";
    }
    deviceHandle = {};
    handleNotification = {};
    return nullptr;
}

bool CUsbDevice::ReleaseHandle() {
    if (const char* failure = CloseHandle()) {
        messages_.ShowMessage(failure);
        return false;
    }
    return true;
}

bool CUsbDevice::CloseDevice() {
    if (!ReleaseHandle()) {
        return false;
    }
    ForgetDevice();
    return true;
}

void CUsbDevice::ForgetDevice() {
    locationPaths.fill('\0');
    locationInformation.fill('\0');
    deviceDescriptor.fill(0);
    ReleaseObjects();
    deviceCount = 0;
    configCount = 0;
    numInterfaces = 0;
    interfaceCount = 0;
}

void CUsbDevice::ReleaseObjects() {
    bosDescriptorBlock.clear();
    bosObject.reset();
    for (std::size_t i = 0; i < kConfigSlots; ++i) {
        configDescriptors[i].clear();
        configurations[i].reset();
    }
    // The configurations no longer point to it: the control endpoint goes last, once.
    currentInterface = nullptr;
    controlEndpoint.reset();
    isocInEndpoint = isocOutEndpoint = nullptr;
    bulkInEndpoint = bulkOutEndpoint = nullptr;
    interruptInEndpoint = interruptOutEndpoint = nullptr;
}

bool CUsbDevice::SendIoControl(std::uint32_t code, std::span<std::uint8_t> buffer) {
    if (!deviceHandle) {
        return false;
    }
    SystemError error;
    if (!system_.IoControl(deviceHandle, code, buffer, bytesReturned, error)) {
        lastError = error.code;
        return false;
    }
    return bytesReturned == buffer.size();
}

std::uint8_t CUsbDevice::QueryAltSetting() {
    std::uint8_t alt = 0;
    return SendIoControl(kIoctlAltSetting, std::span(&alt, 1)) ? alt : 0xFF;
}

void CUsbDevice::QueryUsbAddress() {
    if (!SendIoControl(kIoctlUsbAddress, std::span(&usbAddress, 1))) {
        usbAddress = 0;
    }
}

void CUsbDevice::QueryWord(std::uint32_t code, std::uint32_t& value) {
    std::array<std::uint8_t, 4> answer{};
    value = SendIoControl(code, answer) ? ReadLe32(answer, 0) : 0;
}

void CUsbDevice::QueryText(std::uint32_t code, std::array<char, 256>& text) {
    text.fill('\0');
    SendIoControl(code, std::span(reinterpret_cast<std::uint8_t*>(text.data()), text.size()));
}

void CUsbDevice::QueryDeviceName() {
    QueryText(kIoctlDeviceName, deviceName);
}

void CUsbDevice::QueryFriendlyName() {
    QueryText(kIoctlFriendlyName, friendlyName);
}

void CUsbDevice::QueryDriverVersion() {
    QueryWord(kIoctlDriverVersion, driverVersion);
}

void CUsbDevice::QueryUsbdiVersion() {
    QueryWord(kIoctlUsbdiVersion, usbdiVersion);
}

void CUsbDevice::QuerySpeed() {
    isHighSpeed = false;
    isSuperSpeed = false;
    std::uint32_t speed = 0;
    QueryWord(kIoctlSpeed, speed);
    isHighSpeed = speed == 2;
    isSuperSpeed = speed == 4;
}

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

CUsbConfiguration* CUsbDevice::SelectedConfiguration() const {
    return configIndex < kConfigSlots ? configurations[configIndex].get() : nullptr;
}

void CUsbDevice::SelectConfiguration(std::uint8_t value) {
    // Slots 0 and 1 are the only configurations there are; any other value selects nothing.
    if (value >= kConfigSlots || !configurations[value]) {
        return;
    }
    configIndex = value;
    const CUsbConfiguration& config = *configurations[configIndex];
    configValue = config.bConfigurationValue;
    configAttributes = config.bmAttributes;
    maxPower = config.bMaxPower;
    numInterfaces = config.bNumInterfaces;
    interfaceCount = config.interfaceCount;
    if (config.interfaces[0]) {
        interfaceNumber = config.interfaces[0]->bInterfaceNumber;
    }
    SelectAltSetting(QueryAltSetting());
    if (altIndex < config.interfaces.size() && config.interfaces[altIndex]) {
        const CUsbInterface& bound = *config.interfaces[altIndex];
        interfaceClass = bound.bInterfaceClass;
        interfaceSubClass = bound.bInterfaceSubClass;
        interfaceProtocol = bound.bInterfaceProtocol;
    }
}

void CUsbDevice::SelectAltSetting(std::uint8_t alt) {
    const CUsbConfiguration* config = SelectedConfiguration();
    if (config == nullptr) {
        return;
    }
    for (std::uint8_t i = 0; i < config->interfaceCount && i < config->interfaces.size(); ++i) {
        const CUsbInterface* setting = config->interfaces[i].get();
        if (setting != nullptr && setting->bAlternateSetting == alt) {
            altIndex = i;
            interfaceClass = setting->bInterfaceClass;
            interfaceSubClass = setting->bInterfaceSubClass;
            interfaceProtocol = setting->bInterfaceProtocol;
            BindEndpoints();
            return;
        }
    }
}

std::uint8_t CUsbDevice::CurrentEndpointCount() {
    const CUsbConfiguration* config = SelectedConfiguration();
    if (!deviceHandle || config == nullptr || altIndex >= config->interfaces.size() ||
        !config->interfaces[altIndex]) {
        return 0;
    }
    return static_cast<std::uint8_t>(config->interfaces[altIndex]->bNumEndpoints + 1);
}

void CUsbDevice::BindEndpoints() {
    const CUsbConfiguration* config = SelectedConfiguration();
    if (configCount == 0 || numInterfaces == 0 || config == nullptr ||
        altIndex >= config->interfaces.size() || !config->interfaces[altIndex]) {
        return;
    }
    currentInterface = config->interfaces[altIndex].get();
    currentInterface->endpoints[0] = controlEndpoint.get();
    const int n = std::min<int>(CurrentEndpointCount() - 1,
                                static_cast<int>(currentInterface->endpoints.size()) - 1);
    isocInEndpoint = isocOutEndpoint = nullptr;
    bulkInEndpoint = bulkOutEndpoint = nullptr;
    interruptInEndpoint = interruptOutEndpoint = nullptr;
    for (int k = 1; k <= n; ++k) {
        CUsbEndPoint* endpoint = currentInterface->endpoints[static_cast<std::size_t>(k)];
        if (endpoint == nullptr) {
            continue;
        }
        endpoint->transferMode = 1;
        const bool in = (endpoint->bEndpointAddress & 0x80) != 0;
        CUsbEndPoint** shortcut = nullptr;
        switch (endpoint->bmAttributes) {
            case 1:
                shortcut = in ? &isocInEndpoint : &isocOutEndpoint;
                break;
            case 2:
                shortcut = in ? &bulkInEndpoint : &bulkOutEndpoint;
                break;
            case 3:
                shortcut = in ? &interruptInEndpoint : &interruptOutEndpoint;
                break;
            default:
                break;
        }
        if (shortcut != nullptr && *shortcut == nullptr) {
            *shortcut = endpoint;
        }
    }
}

std::string CUsbDevice::LocationPath() const {
    return std::string(locationPaths.data(), strnlen(locationPaths.data(), locationPaths.size()));
}

}  // namespace torvane
