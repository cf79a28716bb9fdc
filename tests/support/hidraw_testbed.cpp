#include "support/hidraw_testbed.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

#include "sim/family_report_descriptor.h"

namespace torvane::test {
namespace {

// A boot mouse: three buttons, X and Y; 3 bytes, no report IDs.
const std::vector<std::uint8_t> kMouseDescriptor{
    0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09, 0x19,
    0x01, 0x29, 0x03, 0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02,
    0x95, 0x01, 0x75, 0x05, 0x81, 0x01, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15,
    0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x02, 0x81, 0x06, 0xC0, 0xC0};

std::string Hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

// The raw descriptors sysfs shows for a USB device as far as the walk for endpoints reads them:
// the device descriptor, then configuration 1 with one HID interface, its interrupt IN endpoint
// and maybe an interrupt OUT one.
std::vector<std::uint8_t> UsbDescriptors(bool interruptOut) {
    const auto endpoints = static_cast<std::uint8_t>(interruptOut ? 2 : 1);
    std::vector<std::uint8_t> data{18, 1, 0,    2, 0,         0, 0, 64,   0,
                                   0,  0, 0,    0, 0,         1, 2, 0,    1,   // device
                                   9,  2, 0,    0, 1,         1, 0, 0x80, 50,  // configuration 1
                                   9,  4, 0,    0, endpoints, 3, 0, 0,    0,   // interface 0, HID
                                   7,  5, 0x81, 3, 64,        0, 1};           // interrupt IN
    if (interruptOut) {
        data.insert(data.end(), {7, 5, 0x01, 3, 64, 0, 1});
    }
    return data;
}

}  // namespace

struct HidrawTestbed::Slot {
    HidrawTestbed* bed = nullptr;
    int port = 0;
    bool interruptOut = false;
    std::unique_ptr<sim::FamilyDevice> device;  // null for the mouse
    std::mutex deviceLock;  // guards the emulator between the ioctl thread and the test
    // What the nodes show: the mouse's unless the emulator says otherwise.
    std::uint16_t vendorId = 0x046D, productId = 0xC077, release = 0x0200;
    std::string serial;  // the USB device's serial attribute; none when empty
    std::vector<std::uint8_t> descriptor = kMouseDescriptor;
    int hidrawNumber = -1;
    // The USB device and its interface, then (while the driver has the interface) the HID
    // device and the hidraw node.
    std::vector<std::string> syspaths;
    // The interface's state.
    bool driverBound = false;
    bool probing = false;           // the HID driver is binding it
    bool claimedElsewhere = false;  // by another program
};

// Answers one ioctl on a hidraw node of slot, a report ioctl as the emulator answers the report;
// runs on the test bed's worker thread.
gboolean HidrawTestbed::HandleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client,
                                    gpointer data) {
    Slot& slot = *static_cast<Slot*>(data);
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* resolved = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client),
                                                              0, _IOC_SIZE(request), nullptr);
    if (resolved == nullptr) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return TRUE;
    }
    const std::span<std::uint8_t> buffer(resolved->data,
                                         static_cast<std::size_t>(resolved->data_len));
    long result = -1;
    int code = ENOTTY;
    std::lock_guard lock(slot.deviceLock);
    if (_IOC_TYPE(request) == 'H' && (_IOC_NR(request) == 0x0A || _IOC_NR(request) == 0x0B) &&
        slot.bed->reportIoctls_) {
        const std::uint32_t now = slot.bed->now_.TickCount();
        const bool answered = slot.device != nullptr &&
                              (_IOC_NR(request) == 0x0B ? slot.device->OutputReport(now, buffer)
                                                        : slot.device->InputReport(now, buffer));
        result = answered ? static_cast<long>(buffer.size()) : -1;
        code = EPIPE;
    }
    umockdev_ioctl_client_complete(client, result, result < 0 ? code : 0);
    g_object_unref(resolved);
    return TRUE;
}

// Answers one ioctl on the USB device node of slot as usbfs does for the one request made of
// it here: the HID driver asked to take the interface again. Runs on the test bed's worker thread.
gboolean HidrawTestbed::HandleUsbfs(UMockdevIoctlBase*, UMockdevIoctlClient* client,
                                    gpointer data) {
    Slot& slot = *static_cast<Slot*>(data);
    HidrawTestbed& bed = *slot.bed;
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* in = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0,
                                                        _IOC_SIZE(request), nullptr);
    usbdevfs_ioctl command{};
    if (request == USBDEVFS_IOCTL && in != nullptr) {
        std::memcpy(&command, in->data, sizeof command);
    }
    int code = 0;
    if (request != USBDEVFS_IOCTL || command.ifno != 0 ||
        command.ioctl_code != static_cast<int>(USBDEVFS_CONNECT)) {
        code = ENOTTY;
    } else {
        std::lock_guard bedLock(bed.lock_);
        std::lock_guard lock(slot.deviceLock);
        if (slot.driverBound || slot.claimedElsewhere) {
            code = EBUSY;
        } else {
            bed.BindDriver(slot);
        }
    }
    umockdev_ioctl_client_complete(client, code == 0 ? 0 : -1, code);
    if (in != nullptr) {
        g_object_unref(in);
    }
    return TRUE;
}

HidrawTestbed::HidrawTestbed(Clock& now) : now_(now), bed_(umockdev_testbed_new()) {
    // Only a test bed that exists can tell whether the preload library is active.
    if (!umockdev_in_mock_environment()) {
        g_object_unref(bed_);
        throw std::runtime_error("run this under umockdev-wrapper (the preload library)");
    }
    gchar* root = umockdev_testbed_get_root_dir(bed_);
    root_ = root;
    g_free(root);
    // The devices' locks in the bed's own folder, apart from those of other tests.
    ::setenv("TORVANE_LOCK_DIR", root_.c_str(), 1);
}

// The test bed takes its files, its devices and its ioctl handlers along.
HidrawTestbed::~HidrawTestbed() {
    g_object_unref(bed_);
}

void HidrawTestbed::AddFamilyDevice(sim::FamilyDeviceConfig config, int port, bool interruptOut) {
    auto device = std::make_unique<sim::FamilyDevice>(std::move(config));
    const sim::SimInterface shown = device->Interface(now_.TickCount()).value();
    std::lock_guard lock(lock_);
    Slot& slot =
        *(slots_[port] = std::make_unique<Slot>(this, port, interruptOut, std::move(device)));
    slot.vendorId = shown.vendorId;
    slot.productId = shown.productId;
    slot.release = shown.versionNumber;
    slot.serial = shown.serial;
    slot.descriptor = sim::FamilyReportDescriptor(shown.caps);
    Add(slot);
}

void HidrawTestbed::AddMouse(int port) {
    std::lock_guard lock(lock_);
    Add(*(slots_[port] = std::make_unique<Slot>(this, port)));
}

void HidrawTestbed::LetDriverGo(int port, bool claimedElsewhere) {
    std::lock_guard lock(lock_);
    Slot& slot = *slots_.at(port);  // out_of_range where no device was added
    std::lock_guard deviceLock(slot.deviceLock);
    if (slot.driverBound) {
        UnbindDriver(slot);
    }
    slot.claimedElsewhere = claimedElsewhere;
    LinkDriver(slot);
}

void HidrawTestbed::Probing(int port) {
    std::lock_guard lock(lock_);
    Slot& slot = *slots_.at(port);
    slot.probing = true;
    LinkDriver(slot);
}

void HidrawTestbed::BreakNode(int port) {
    std::lock_guard lock(lock_);
    const std::string node = NodePath(*slots_.at(port));
    std::filesystem::remove(node);
    std::filesystem::create_directory(node);
}

std::string HidrawTestbed::UsbNode(int port) {
    char text[32];
    std::snprintf(text, sizeof text, "/dev/bus/usb/001/%03d", port);
    return text;
}

std::string HidrawTestbed::NodePath(const Slot& slot) const {
    return root_ + "/dev/hidraw" + std::to_string(slot.hidrawNumber);
}

void HidrawTestbed::Add(Slot& slot) {
    // The lowest free hidraw number, as the kernel hands them out: none leaves the bus.
    slot.hidrawNumber = static_cast<int>(slots_.size()) - 1;
    if (rootHub_.empty()) {
        gchar* pci =
            umockdev_testbed_add_device(bed_, "pci", "0000:00:14.0", nullptr, nullptr, nullptr);
        gchar* hub = umockdev_testbed_add_device(bed_, "usb", "usb1", pci, "busnum", "1", nullptr,
                                                 "DEVTYPE", "usb_device", nullptr);
        rootHub_ = hub;
        g_free(pci);
        g_free(hub);
    }
    const std::string port = std::to_string(slot.port);
    const std::string busPort = "1-" + port;
    gchar* usb = umockdev_testbed_add_device(
        bed_, "usb", busPort.c_str(), rootHub_.c_str(), "busnum", "1", "devnum", port.c_str(),
        "devpath", port.c_str(), "idVendor", Hex4(slot.vendorId).c_str(), "idProduct",
        Hex4(slot.productId).c_str(), "bcdDevice", Hex4(slot.release).c_str(),
        "bConfigurationValue", "1", nullptr, "DEVTYPE", "usb_device", "DEVNAME",
        UsbNode(slot.port).c_str(), nullptr);
    if (!slot.serial.empty()) {
        umockdev_testbed_set_attribute(bed_, usb, "serial", slot.serial.c_str());
    }
    std::vector<std::uint8_t> descriptors = UsbDescriptors(slot.interruptOut);
    umockdev_testbed_set_attribute_binary(bed_, usb, "descriptors", descriptors.data(),
                                          static_cast<gssize>(descriptors.size()));
    gchar* interface = umockdev_testbed_add_device(
        bed_, "usb", (busPort + ":1.0").c_str(), usb, "bInterfaceClass", "03", "bInterfaceNumber",
        "00", "bAlternateSetting", " 0", nullptr, "DEVTYPE", "usb_interface", nullptr);
    for (gchar* path : {usb, interface}) {
        slot.syspaths.emplace_back(path);
        g_free(path);
    }
    std::filesystem::create_directories(root_ + "/dev/bus/usb/001");
    std::ofstream(root_ + UsbNode(slot.port)).flush();
    if (slot.device != nullptr) {
        Attach(UsbNode(slot.port), G_CALLBACK(HandleUsbfs), slot);
    }
    BindDriver(slot);
    Attach("/dev/hidraw" + std::to_string(slot.hidrawNumber), G_CALLBACK(HandleIoctl), slot);
}

void HidrawTestbed::Attach(const std::string& devnode, GCallback handle, Slot& slot) {
    UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
    g_signal_connect(handler, "handle-ioctl", handle, &slot);
    const bool attached = umockdev_testbed_attach_ioctl(bed_, devnode.c_str(), handler, nullptr);
    g_object_unref(handler);
    if (!attached) {
        throw std::runtime_error("cannot attach the ioctl handler to " + devnode);
    }
}

// The HID device and the hidraw node, under the number the slot keeps while present; its ioctl
// handler stays attached meanwhile.
void HidrawTestbed::BindDriver(Slot& slot) {
    const std::string vendor = Hex4(slot.vendorId);
    const std::string product = Hex4(slot.productId);
    // The kernel numbers HID devices across the whole system.
    const std::string hidName = "0003:" + vendor + ":" + product + "." + Hex4(++hidDevices_);
    gchar* hid = umockdev_testbed_add_device(bed_, "hid", hidName.c_str(), slot.syspaths[1].c_str(),
                                             nullptr, nullptr);
    umockdev_testbed_set_attribute_binary(bed_, hid, "report_descriptor", slot.descriptor.data(),
                                          static_cast<gssize>(slot.descriptor.size()));
    const std::string name = "hidraw" + std::to_string(slot.hidrawNumber);
    const std::string devnode = "/dev/" + name;
    gchar* raw = umockdev_testbed_add_device(bed_, "hidraw", name.c_str(), hid, "dev",
                                             ("241:" + std::to_string(slot.hidrawNumber)).c_str(),
                                             nullptr, "DEVNAME", devnode.c_str(), nullptr);
    for (gchar* path : {hid, raw}) {
        slot.syspaths.emplace_back(path);
        g_free(path);
    }
    // The test bed names the node but makes no file for it.
    std::ofstream(NodePath(slot)).flush();
    slot.driverBound = true;
    LinkDriver(slot);
}

void HidrawTestbed::LinkDriver(const Slot& slot) {
    const std::string link = root_ + slot.syspaths[1] + "/driver";
    std::remove(link.c_str());
    const char* driver = slot.probing            ? nullptr
                         : slot.driverBound      ? "usbhid"
                         : slot.claimedElsewhere ? "usbfs"
                                                 : nullptr;
    if (driver != nullptr) {
        std::filesystem::create_symlink(std::string("../../../bus/usb/drivers/") + driver, link);
    }
}

void HidrawTestbed::UnbindDriver(Slot& slot) {
    std::remove(NodePath(slot).c_str());
    // Children before parents, each with its own remove event.
    for (int i = 0; i < 2; ++i) {
        umockdev_testbed_uevent(bed_, slot.syspaths.back().c_str(), "remove");
        umockdev_testbed_remove_device(bed_, slot.syspaths.back().c_str());
        slot.syspaths.pop_back();
    }
    slot.driverBound = false;
    LinkDriver(slot);
}

}  // namespace torvane::test
