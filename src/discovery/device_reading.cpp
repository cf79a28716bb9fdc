#include "discovery/device_reading.h"

#include <array>

#include "protocol/family.h"

namespace torvane {
namespace {

// Opens index of the enumeration the device object holds; false when its handle fails.
bool OpenIndex(CUsbDevice& device, std::uint8_t index) {
    device.OpenDevice(index);
    return device.OpenHandle(index);
}

}  // namespace

std::unique_ptr<CUsbDevice> OpenListedDevice(const ListedDevice& entry,
                                             DeviceInterfaces& interfaces, HidClass& hid,
                                             MessageSink& messages, WindowHandle window,
                                             DeviceSession& session, std::string* failure) {
    auto device = std::make_unique<CUsbDevice>(interfaces, messages, window, entry.guid, false);
    bool opened = false;
    if (entry.location.empty()) {
        opened = OpenIndex(*device, entry.index);
    } else {
        // One enumeration for every open below: an index then names the same interface for
        // each of them, whatever other devices do on the bus meanwhile. Another device leaving
        // or coming back moves the indices, so the entry is taken at its port: at its index
        // when that is still there, else wherever the port now is.
        device->UseEnumeration(interfaces.Enumerate(entry.guid));
        const std::uint8_t count = device->CountDevices();
        opened = entry.index < count && OpenIndex(*device, entry.index) &&
                 device->LocationPath() == entry.location;
        for (std::uint8_t k = 0; k < count && !opened; ++k) {
            opened = k != entry.index && device->OpenHandle(k) &&
                     device->LocationPath() == entry.location && OpenIndex(*device, k);
        }
    }
    if (!opened) {
        if (failure != nullptr) {
            const std::string where = entry.location.empty() ? "the device" : entry.location;
            *failure = device->openError.code != 0
                           ? "cannot open " + where + " (" + device->openError.text + ")"
                           : "no device at " + where + " any more";
        }
        return nullptr;
    }
    session.sessionHandle = device->deviceHandle;
    hid.GetAttributes(session.sessionHandle, session.sessionAttributes);
    hid.GetCaps(session.sessionHandle, session.sessionCaps);
    return device;
}

DeviceHold HoldDevice(const ListedDevice& entry, DeviceLocks& locks) {
    DeviceHold hold;
    std::uint32_t holder = 0;
    if (!entry.location.empty() && !(hold.lock = locks.TryLock(entry.location, holder))) {
        hold.busy = BusyText(holder);
    }
    return hold;
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
    const bool answered = session.QueryFirmwareVersion(version);
    const bool bootLoader = session.bootMode != 0;
    const FirmwareVersion read =
        bootLoader ? FirmwareVersion::FromDigits(version) : FirmwareVersion::FromBytes(version);
    return {read.Text(), bootLoader ? std::nullopt : std::optional<std::uint8_t>(version[0]),
            answered ? std::optional(read) : std::nullopt, bootLoader};
}

}  // namespace torvane
