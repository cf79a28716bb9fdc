// Access to this system's HID interfaces of a USB vendor: the transport they are opened with,
// what keeps each of them from being used, and the give-back of interfaces that a program killed
// while it held them left without a driver. Facts only: the front ends put them in words. A
// system where nothing of this arises (Windows) has no transport to choose and lists nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace torvane {

// How reports reach an interface: the HID driver's node (hidraw), or control transfers through
// the USB device node (usbfs).
enum class Transport { kHidraw, kUsb };
// kAuto: usbfs for an interface with an interrupt OUT endpoint (where hidraw would send output
// reports over that endpoint), hidraw otherwise. A forced choice is for diagnosis.
enum class TransportPreference { kAuto, kHidraw, kUsb };

// The transport the system's device interfaces open interfaces with from now on; an interface
// without a USB device always uses hidraw.
void SetTransportPreference(TransportPreference preference);

// What keeps an interface from being used.
enum class AccessProblem {
    kNone,
    kBusy,            // another program claims the USB interface
    kLocked,          // another holder has its device's lock: it was not asked for a report
    kDriverless,      // no driver: a program was killed while it held the interface
    kSettingUp,       // no driver yet: the kernel is still setting the interface up
    kNoHidrawNode,    // the HID driver has let go of it
    kDenied,          // the node refuses this user
    kUnopened,        // the node does not open for reading and writing (error)
    kUnreadableCaps,  // the report descriptor cannot be read (error)
    kNoReportIoctls,  // the kernel lacks the report ioctls
};

struct InterfaceAccess {
    std::string node;          // the node the transport opens
    std::string usbInterface;  // its USB interface's sysfs name (1-2:1.0); empty without one
    std::string usbNode;       // its USB device node; empty without a USB device
    std::uint16_t productId = 0;
    std::string locationPath;
    Transport transport = Transport::kHidraw;
    bool interruptOut = false;  // the interface's current setting has an interrupt OUT endpoint
    AccessProblem problem = AccessProblem::kNone;
    int error = 0;  // kUnopened, kUnreadableCaps: the system's error code
    // kBusy: the other processes that may hold the claim; kLocked: the lock's holder, when it is
    // known.
    std::vector<int> holders;
    // kNoReportIoctls: the first kernel release with them, and the one running.
    std::string neededRelease;
    std::string runningRelease;

    bool Usable() const { return problem == AccessProblem::kNone; }
};

// Each HID interface of the vendor, in the order the device interfaces list them, examined as its
// transport would use it: a hidraw node is opened, has its capabilities read and is asked for the
// input report inputReportId, as the engine would; a USB device node is only checked for this
// user's access (claiming the interface would take it from its driver).
std::vector<InterfaceAccess> ExamineInterfaces(std::uint16_t vendorId, std::uint8_t inputReportId);
// True when this user may not open the node of some HID interface of the vendor; opens nothing.
bool SomeInterfaceUnopened(std::uint16_t vendorId);

// A node as another user of the system has it by the node's owner, group and mode: what a service
// running as that user may open. ACLs are left aside (uaccess gives one to the user at the seat).
struct UserNodeAccess {
    bool readWrite = false;  // the user may open it for reading and writing
    std::string group;       // the node's group, by name where the system names it
    unsigned mode = 0;       // the node's permission bits
};
// Empty where the system has no such user, or the node cannot be examined; Windows has neither.
std::optional<UserNodeAccess> ExamineUserAccess(const std::string& user, const std::string& node);

// A USB interface without a driver that the give-back asked the kernel to bind one to, or found
// still being set up.
struct GivenBack {
    std::string usbInterface;  // its sysfs name
    std::string usbNode;
    int error = 0;           // 0 when a driver took it, else the system's error code
    bool settingUp = false;  // the kernel was still setting it up: it was left to the kernel
};
// Asks the kernel to bind a driver to each HID interface of the vendor's products productIds that
// has none and that no program claims, that one interface only; the kernel refuses one that is
// claimed meanwhile. One the kernel is still setting up is left to it. Returns each interface it
// found without a driver, after waiting up to a second for their nodes to open.
std::vector<GivenBack> GiveBackDriverless(std::uint16_t vendorId,
                                          std::span<const std::uint16_t> productIds);

}  // namespace torvane
