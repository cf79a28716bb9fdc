// CUsbDevice: its life, the enumeration of the interfaces, and the open and close of one; the
// open reads the device's descriptors and builds its objects.
#include "usb/usb_device.h"

#include <algorithm>
#include <cstring>

#include "usb/debug_trace.h"
#include "usb/text_error.h"

namespace torvane {
namespace {

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
        openError = error;
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

std::string CUsbDevice::LocationPath() const {
    return std::string(locationPaths.data(), strnlen(locationPaths.data(), locationPaths.size()));
}

}  // namespace torvane
