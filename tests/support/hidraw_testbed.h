// A umockdev test bed of USB devices on a PCI host controller, with their HID interfaces and
// hidraw nodes, whose report ioctls the device-family emulator answers. udev has processed none of
// them (no ID_PATH). A family device's USB device node, as usbfs does, binds the HID driver again
// when asked; the report transport through usbfs is the real-kernel test's.
#pragma once

#include <umockdev.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "sim/family_device.h"

namespace torvane::test {

// The devices stay on the bus: their re-enumerations are the real-kernel test's to prove.
class HidrawTestbed final {
public:
    // now: the time the emulators run on.
    explicit HidrawTestbed(Clock& now);
    ~HidrawTestbed();
    HidrawTestbed(const HidrawTestbed&) = delete;
    HidrawTestbed& operator=(const HidrawTestbed&) = delete;

    // A family device at port `port` of bus 1; interruptOut: its HID interface has an interrupt
    // OUT endpoint besides the IN endpoint.
    void AddFamilyDevice(sim::FamilyDeviceConfig config, int port, bool interruptOut = false);
    // A boot mouse of another vendor at port `port`.
    void AddMouse(int port);
    // The HID driver lets go of the interface at `port`: another program claims it, or none
    // does, as a program killed while it held the interface leaves it.
    void LetDriverGo(int port, bool claimedElsewhere);
    // The HID driver is binding the interface at `port`: its HID device and hidraw node are
    // there, its driver link not yet.
    void Probing(int port);
    // The hidraw node of the device at `port` does not open (it is a folder).
    void BreakNode(int port);
    // The report ioctls fail with ENOTTY, as on a kernel before 5.11.
    void RemoveReportIoctls() { reportIoctls_ = false; }

    // The port's path as udev names it (ID_PATH).
    static std::string IdPath(int port) { return "pci-0000:00:14.0-usb-0:" + std::to_string(port); }
    // The USB device node of the device at port `port` (its device number is the port).
    static std::string UsbNode(int port);

private:
    struct Slot;
    static gboolean HandleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer slot);
    static gboolean HandleUsbfs(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer slot);
    void Add(Slot& slot);
    // An ioctl handler calling `handle` with slot for the node devnode.
    void Attach(const std::string& devnode, GCallback handle, Slot& slot);
    void BindDriver(Slot& slot);
    // The interface's driver link in sysfs, as its state says.
    void LinkDriver(const Slot& slot);
    void UnbindDriver(Slot& slot);
    std::string NodePath(const Slot& slot) const;

    Clock& now_;
    UMockdevTestbed* bed_;
    std::string root_;
    mutable std::mutex lock_;
    std::map<int, std::unique_ptr<Slot>> slots_;  // by port
    std::string rootHub_;                         // its sysfs path, once a device is added
    std::atomic<bool> reportIoctls_{true};
    unsigned hidDevices_ = 0;
};

}  // namespace torvane::test
