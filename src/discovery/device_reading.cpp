#include "discovery/device_reading.h"

#include <array>
#include <cstdio>

#include "discovery/device_scan.h"
#include "protocol/family.h"

namespace torvane {
namespace {

std::string FormatVersion(int a, int b, int c) {
    char text[48];
    std::snprintf(text, sizeof text, "%d.%d.%d", a, b, c);
    return text;
}

std::unique_ptr<CUsbDevice> OpenIndex(const ListedDevice& entry, std::uint8_t index,
                                      DeviceInterfaces& interfaces, MessageSink& messages,
                                      WindowHandle window) {
    auto device = std::make_unique<CUsbDevice>(interfaces, messages, window, entry.guid, false);
    device->OpenDevice(index);
    if (!device->OpenHandle(index)) {
        return nullptr;
    }
    return device;
}

}  // namespace

std::unique_ptr<CUsbDevice> OpenListedDevice(const ListedDevice& entry,
                                             DeviceInterfaces& interfaces, HidClass& hid,
                                             MessageSink& messages, WindowHandle window,
                                             DeviceSession& session) {
    std::unique_ptr<CUsbDevice> device =
        OpenIndex(entry, entry.index, interfaces, messages, window);
    if (!entry.location.empty() && (!device || device->LocationPath() != entry.location)) {
        // The interfaces moved since the scan (another device left the bus or came back): find
        // the entry's port again.
        device.reset();
        for (const ListedDevice& row : ScanDevices(interfaces, hid, messages)) {
            if (row.location == entry.location) {
                device = OpenIndex(entry, row.index, interfaces, messages, window);
                break;
            }
        }
        if (device && device->LocationPath() != entry.location) {
            device.reset();
        }
    }
    if (!device) {
        return nullptr;
    }
    session.sessionHandle = device->deviceHandle;
    hid.GetAttributes(session.sessionHandle, session.sessionAttributes);
    hid.GetCaps(session.sessionHandle, session.sessionCaps);
    return device;
}

FirmwareReading ReadFirmwareVersion(DeviceSession& session) {
    session.bootMode = session.sessionAttributes.vendorId == family::kVendorId &&
                               session.sessionAttributes.productId == family::kBootLoaderProductId
                           ? 1
                           : 0;
    // A query without an answer shows 0.0.0: a boot loader's digits start as '0'.
    std::array<std::uint8_t, 4> version{};
    if (session.bootMode != 0) {
        version = {'0', '0', '0', 0};
    }
    session.QueryFirmwareVersion(version);
    if (session.bootMode != 0) {
        return {FormatVersion(version[0] - 48, version[1] - 48, version[2] - 48), std::nullopt};
    }
    return {FormatVersion(version[0], version[1], version[2]), version[0]};
}

}  // namespace torvane
