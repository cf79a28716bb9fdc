// Opening a listed device into a device session, and reading its firmware version.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "discovery/device_table.h"
#include "platform/device_interfaces.h"
#include "platform/device_lock.h"
#include "platform/hid_class.h"
#include "platform/message_sink.h"
#include "protocol/device_session.h"
#include "usb/usb_device.h"

namespace torvane {

// Opens the entry's interface into a new device object and into session (handle, attributes,
// capabilities). An entry with a location path is opened only at that port: when the interfaces
// have moved since the scan (a device left or came back), the entry is looked up again by its
// location path. nullptr when its handle fails or nothing is found at its port; failure, when
// given, then says which and the system's words.
std::unique_ptr<CUsbDevice> OpenListedDevice(const ListedDevice& entry,
                                             DeviceInterfaces& interfaces, HidClass& hid,
                                             MessageSink& messages, WindowHandle window,
                                             DeviceSession& session,
                                             std::string* failure = nullptr);

// The lock of a listed device for one holder's exchanges with it.
struct DeviceHold {
    std::unique_ptr<DeviceLock> lock;
    // BusyText when another holder has the lock: nothing may be sent to the device.
    std::string busy;
};
// Takes the lock of entry's device without waiting. An entry without a location path has nothing
// that names it to the other programs: it is exchanged with unlocked.
DeviceHold HoldDevice(const ListedDevice& entry, DeviceLocks& locks);

struct FirmwareReading {
    // "a.b.c" as the version display shows it; 0.0.0 when the device does not answer.
    std::string versionText;
    // The application's major version; nullopt for a boot loader.
    std::optional<std::uint8_t> major;
    // The version the device answered with; nullopt when it did not answer the query at all.
    std::optional<FirmwareVersion> version;
    bool bootLoader = false;
};

// Reads the version of the device open in session, setting session.bootMode from its
// attributes; an application also delivers session.deviceIdentity.
FirmwareReading ReadFirmwareVersion(DeviceSession& session);

}  // namespace torvane
