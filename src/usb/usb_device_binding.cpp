// CUsbDevice: the driver's queries over its control channel, and the binding of a configuration's
// interface setting with its endpoints.
#include "usb/usb_device.h"

#include <algorithm>

#include "usb/io_control_codes.h"
#include "usb/little_endian.h"

namespace torvane {

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

}  // namespace torvane
