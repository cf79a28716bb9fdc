#include "linux/hidraw_testbed.h"

#include <linux/capability.h>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <span>
#include <stdexcept>

#include "sim/family_report_descriptor.h"

namespace torvane::test {
namespace {

// A boot mouse: three buttons, X and Y; 3 bytes, no report IDs.
const std::vector<std::uint8_t> kMouseDescriptor{
    0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09, 0x19,
    0x01, 0x29, 0x03, 0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02,
    0x95, 0x01, 0x75, 0x05, 0x81, 0x01, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15,
    0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x02, 0x81, 0x06, 0xC0, 0xC0};

// Both capabilities are below 32: they live in the first word.
constexpr unsigned kDac = (1U << CAP_DAC_OVERRIDE) | (1U << CAP_DAC_READ_SEARCH);

bool Capabilities(int call, __user_cap_data_struct (&data)[2]) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(call, &header, data) == 0;
}

std::string Hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

// The raw descriptors sysfs shows for a USB device: the device descriptor, then its one
// configuration with one HID interface, an interrupt IN endpoint and maybe an interrupt OUT one.
std::vector<std::uint8_t> UsbDescriptors(std::uint16_t vendorId, std::uint16_t productId,
                                         std::uint16_t release, std::size_t reportDescriptorSize,
                                         bool interruptOut) {
    const auto lo = [](unsigned value) { return static_cast<std::uint8_t>(value & 0xFF); };
    const auto hi = [](unsigned value) { return static_cast<std::uint8_t>(value >> 8); };
    const unsigned total = 9 + 9 + 9 + 7 + (interruptOut ? 7 : 0);
    std::vector<std::uint8_t> data{
        18, 1, 0x00, 0x02, 0, 0, 0, 64, lo(vendorId), hi(vendorId), lo(productId), hi(productId),
        lo(release), hi(release), 1, 2, 0, 1,
        // configuration 1, interface 0 (HID), its HID descriptor
        9, 2, lo(total), hi(total), 1, 1, 0, 0x80, 50, 9, 4, 0, 0,
        static_cast<std::uint8_t>(interruptOut ? 2 : 1), 3, 0, 0, 0, 9, 0x21, 0x11, 0x01, 0, 1,
        0x22, lo(reportDescriptorSize), hi(reportDescriptorSize),
        // endpoint 0x81, interrupt, 64 bytes
        7, 5, 0x81, 3, 64, 0, 1};
    if (interruptOut) {
        data.insert(data.end(), {7, 5, 0x01, 3, 64, 0, 1});
    }
    return data;
}

}  // namespace

struct HidrawTestbed::Slot {
    HidrawTestbed* bed = nullptr;
    int port = 0;
    bool withIdPath = true;
    bool interruptOut = false;
    std::unique_ptr<sim::FamilyDevice> device;  // null for the mouse
    std::mutex deviceLock;  // guards the emulator between the ioctl thread and the test
    // What the nodes show while present; the mouse's unless the emulator says otherwise.
    bool present = false;
    std::uint16_t vendorId = 0x046D, productId = 0xC077, release = 0x0200;
    std::vector<std::uint8_t> descriptor = kMouseDescriptor;
    int hidrawNumber = -1;
    // The USB device and its interface, then (while the driver has the interface) the HID
    // device and the hidraw node.
    std::vector<std::string> syspaths;
    UMockdevIoctlBase* handler = nullptr;
    // usbfs on the USB device node, and the interface's state.
    UMockdevIoctlBase* usbfs = nullptr;
    bool driverBound = false;
    bool claimedElsewhere = false;  // by another program
    std::vector<std::string> usbfsLog;
};

// Answers one ioctl on a hidraw node of slot; runs on the test bed's worker thread.
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
    if (request == HIDIOCGRAWINFO) {
        const hidraw_devinfo info{BUS_USB, static_cast<std::int16_t>(slot.vendorId),
                                  static_cast<std::int16_t>(slot.productId)};
        std::memcpy(buffer.data(), &info, sizeof info);
        result = 0;
    } else if (request == HIDIOCGRDESCSIZE) {
        const int size = static_cast<int>(slot.descriptor.size());
        std::memcpy(buffer.data(), &size, sizeof size);
        result = 0;
    } else if (request == HIDIOCGRDESC) {
        hidraw_report_descriptor descriptor{};
        std::memcpy(&descriptor, buffer.data(), sizeof descriptor);
        std::copy_n(slot.descriptor.begin(),
                    std::min<std::size_t>(descriptor.size, slot.descriptor.size()),
                    descriptor.value);
        std::memcpy(buffer.data(), &descriptor, sizeof descriptor);
        result = 0;
    } else if (_IOC_TYPE(request) == 'H' &&
               (_IOC_NR(request) == 0x0A || _IOC_NR(request) == 0x0B) && slot.bed->reportIoctls_) {
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
            slot.usbfsLog.emplace_back("connect");
        }
    }
    umockdev_ioctl_client_complete(client, code == 0 ? 0 : -1, code);
    if (in != nullptr) {
        g_object_unref(in);
    }
    return TRUE;
}

HidrawTestbed::Slot& HidrawTestbed::At(int port) const {
    const auto slot = std::ranges::find(slots_, port, [](const auto& each) { return each->port; });
    if (slot == slots_.end()) {
        throw std::out_of_range("no device at port " + std::to_string(port));
    }
    return **slot;
}

std::vector<std::string> HidrawTestbed::UsbfsLog(int port) const {
    std::lock_guard lock(lock_);
    Slot& slot = At(port);
    std::lock_guard deviceLock(slot.deviceLock);
    return slot.usbfsLog;
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
}

HidrawTestbed::~HidrawTestbed() {
    for (const auto& slot : slots_) {
        if (slot->present) {
            Remove(*slot);
        }
    }
    g_object_unref(bed_);
}

sim::FamilyDevice& HidrawTestbed::AddFamilyDevice(sim::FamilyDeviceConfig config, int port,
                                                  bool withIdPath, bool interruptOut) {
    auto device = std::make_unique<sim::FamilyDevice>(std::move(config));
    sim::FamilyDevice& added = *device;
    const std::optional<sim::SimInterface> shown = added.Interface(now_.TickCount());
    std::lock_guard lock(lock_);
    slots_.push_back(
        std::make_unique<Slot>(this, port, withIdPath, interruptOut, std::move(device)));
    Slot& slot = *slots_.back();
    if (shown) {
        slot.vendorId = shown->vendorId;
        slot.productId = shown->productId;
        slot.release = shown->versionNumber;
        slot.descriptor = sim::FamilyReportDescriptor(shown->caps);
        Add(slot);
    }
    return added;
}

void HidrawTestbed::AddMouse(int port) {
    std::lock_guard lock(lock_);
    slots_.push_back(std::make_unique<Slot>(this, port));
    Add(*slots_.back());
}

void HidrawTestbed::DenyAccess(int port) {
    std::lock_guard lock(lock_);
    ::chmod(NodePath(At(port)).c_str(), 0);
    ::chmod((root_ + UsbNode(port)).c_str(), 0);
}

void HidrawTestbed::ClaimElsewhere(int port) {
    LetDriverGo(port, true);
}

void HidrawTestbed::LeaveWithoutDriver(int port) {
    LetDriverGo(port, false);
}

void HidrawTestbed::LetDriverGo(int port, bool claimedElsewhere) {
    std::lock_guard lock(lock_);
    Slot& slot = At(port);
    std::lock_guard deviceLock(slot.deviceLock);
    if (slot.driverBound) {
        UnbindDriver(slot);
    }
    slot.claimedElsewhere = claimedElsewhere && slot.present;
    LinkDriver(slot);
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
    // The lowest free hidraw number, as the kernel hands them out.
    int number = 0;
    while (std::any_of(slots_.begin(), slots_.end(), [&](const auto& other) {
        return other->present && other->hidrawNumber == number;
    })) {
        ++number;
    }
    slot.hidrawNumber = number;
    const std::string port = std::to_string(slot.port);
    const std::string busPort = "1-" + port;
    const std::string idPath = IdPath(slot.port);
    gchar* usb = umockdev_testbed_add_device(
        bed_, "usb", busPort.c_str(), nullptr, "busnum", "1", "devnum", port.c_str(), "devpath",
        port.c_str(), "idVendor", Hex4(slot.vendorId).c_str(), "idProduct",
        Hex4(slot.productId).c_str(), "bcdDevice", Hex4(slot.release).c_str(),
        "bConfigurationValue", "1", nullptr, "DEVTYPE", "usb_device", "DEVNAME",
        UsbNode(slot.port).c_str(), slot.withIdPath ? "ID_PATH" : nullptr, idPath.c_str(), nullptr);
    std::vector<std::uint8_t> descriptors = UsbDescriptors(
        slot.vendorId, slot.productId, slot.release, slot.descriptor.size(), slot.interruptOut);
    umockdev_testbed_set_attribute_binary(bed_, usb, "descriptors", descriptors.data(),
                                          static_cast<gssize>(descriptors.size()));
    gchar* interface = umockdev_testbed_add_device(
        bed_, "usb", (busPort + ":1.0").c_str(), usb, "bInterfaceClass", "03", "bInterfaceNumber",
        "00", "bAlternateSetting", " 0", nullptr, "DEVTYPE", "usb_interface", nullptr);
    slot.syspaths.clear();
    for (gchar* path : {usb, interface}) {
        slot.syspaths.emplace_back(path);
        g_free(path);
    }
    // usbfs reads the descriptors from the node as sysfs shows them.
    std::filesystem::create_directories(root_ + "/dev/bus/usb/001");
    std::ofstream(root_ + UsbNode(slot.port), std::ios::binary)
        .write(reinterpret_cast<const char*>(descriptors.data()),
               static_cast<std::streamsize>(descriptors.size()));
    slot.claimedElsewhere = false;
    if (slot.device != nullptr) {
        slot.usbfs = umockdev_ioctl_base_new();
        g_signal_connect(slot.usbfs, "handle-ioctl", G_CALLBACK(HandleUsbfs), &slot);
        Attach(UsbNode(slot.port), slot.usbfs);
    }
    BindDriver(slot);
    const std::string devnode = "/dev/hidraw" + std::to_string(number);
    slot.handler = umockdev_ioctl_base_new();
    g_signal_connect(slot.handler, "handle-ioctl", G_CALLBACK(HandleIoctl), &slot);
    Attach(devnode, slot.handler);
    slot.present = true;
}

void HidrawTestbed::Attach(const std::string& devnode, UMockdevIoctlBase* handler) {
    if (!umockdev_testbed_attach_ioctl(bed_, devnode.c_str(), handler, nullptr)) {
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
    const char* driver = slot.driverBound ? "usbhid" : slot.claimedElsewhere ? "usbfs" : nullptr;
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

void HidrawTestbed::Remove(Slot& slot) {
    if (slot.driverBound) {
        UnbindDriver(slot);
    }
    umockdev_testbed_detach_ioctl(bed_, ("/dev/hidraw" + std::to_string(slot.hidrawNumber)).c_str(),
                                  nullptr);
    g_object_unref(slot.handler);
    slot.handler = nullptr;
    if (slot.usbfs != nullptr) {
        umockdev_testbed_detach_ioctl(bed_, UsbNode(slot.port).c_str(), nullptr);
        g_object_unref(slot.usbfs);
        slot.usbfs = nullptr;
    }
    std::remove((root_ + UsbNode(slot.port)).c_str());
    for (auto path = slot.syspaths.rbegin(); path != slot.syspaths.rend(); ++path) {
        umockdev_testbed_uevent(bed_, path->c_str(), "remove");
        umockdev_testbed_remove_device(bed_, path->c_str());
    }
    slot.syspaths.clear();
    slot.present = false;
}

FilePermissionsBind::FilePermissionsBind() {
    __user_cap_data_struct data[2]{};
    if (Capabilities(SYS_capget, data) && (data[0].effective & kDac) != 0) {
        effective_ = data[0].effective;
        data[0].effective &= ~kDac;
        changed_ = Capabilities(SYS_capset, data);
    }
}

FilePermissionsBind::~FilePermissionsBind() {
    __user_cap_data_struct data[2]{};
    if (changed_ && Capabilities(SYS_capget, data)) {
        data[0].effective = effective_;
        Capabilities(SYS_capset, data);
    }
}

}  // namespace torvane::test
