#include "linux/hidraw_testbed.h"

#include <linux/hidraw.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <span>
#include <stdexcept>

#include "protocol/family.h"
#include "sim/family_report_descriptor.h"

namespace torvane::test {
namespace {

constexpr std::uint16_t kMouseVendor = 0x046D;
constexpr std::uint16_t kMouseProduct = 0xC077;

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

}  // namespace

struct HidrawTestbed::Slot {
    HidrawTestbed* bed = nullptr;
    int port = 0;
    bool withIdPath = true;
    bool denied = false;
    std::shared_ptr<sim::FamilyDevice> device;  // null for the mouse
    // Guards the emulator between the ioctl thread and Sync.
    std::mutex deviceLock;

    // What the nodes show while present.
    bool present = false;
    std::uint32_t generation = 0;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t release = 0;
    std::vector<std::uint8_t> descriptor;
    int arrivals = 0;
    int hidrawNumber = -1;
    std::vector<std::string> syspaths;  // the USB device first, the hidraw node last
    UMockdevIoctlBase* handler = nullptr;
};

namespace {

// Answers one ioctl on a hidraw node of slot; runs on the test bed's worker thread.
gboolean HandleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    auto& slot = *static_cast<HidrawTestbed::Slot*>(data);
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    const std::size_t size = _IOC_SIZE(request);
    GError* error = nullptr;
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    UMockdevIoctlData* resolved = umockdev_ioctl_data_resolve(arg, 0, size, &error);
    if (resolved == nullptr) {
        g_clear_error(&error);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return TRUE;
    }
    const std::span<std::uint8_t> buffer(resolved->data,
                                         static_cast<std::size_t>(resolved->data_len));
    long result = -1;
    int code = ENOTTY;
    std::lock_guard lock(slot.deviceLock);
    const std::uint32_t now = slot.bed->Now();
    const bool reportIoctls = slot.bed->ReportIoctls();
    if (request == HIDIOCGRAWINFO && buffer.size() == sizeof(hidraw_devinfo)) {
        const hidraw_devinfo info{BUS_USB, static_cast<std::int16_t>(slot.vendorId),
                                  static_cast<std::int16_t>(slot.productId)};
        std::memcpy(buffer.data(), &info, sizeof info);
        result = 0;
    } else if (request == HIDIOCGRDESCSIZE && buffer.size() == sizeof(int)) {
        const int descriptorSize = static_cast<int>(slot.descriptor.size());
        std::memcpy(buffer.data(), &descriptorSize, sizeof descriptorSize);
        result = 0;
    } else if (request == HIDIOCGRDESC && buffer.size() == sizeof(hidraw_report_descriptor)) {
        hidraw_report_descriptor descriptor{};
        std::memcpy(&descriptor, buffer.data(), sizeof descriptor);
        if (descriptor.size > slot.descriptor.size()) {
            code = EINVAL;
        } else {
            std::copy_n(slot.descriptor.begin(), descriptor.size, descriptor.value);
            std::memcpy(buffer.data(), &descriptor, sizeof descriptor);
            result = 0;
        }
    } else if (_IOC_TYPE(request) == 'H' && _IOC_DIR(request) == (_IOC_READ | _IOC_WRITE) &&
               (_IOC_NR(request) == 0x0A || _IOC_NR(request) == 0x0B) && reportIoctls) {
        const bool output = _IOC_NR(request) == 0x0B;
        const bool answered =
            slot.device != nullptr && (output ? slot.device->OutputReport(now, buffer)
                                              : slot.device->InputReport(now, buffer));
        result = answered ? static_cast<long>(buffer.size()) : -1;
        code = answered ? 0 : EPIPE;
    }
    umockdev_ioctl_client_complete(client, result, result < 0 ? code : 0);
    g_object_unref(resolved);
    return TRUE;
}

}  // namespace

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
    std::lock_guard lock(syncLock_);
    for (const auto& slot : slots_) {
        if (slot->present) {
            Remove(*slot);
        }
    }
    g_object_unref(bed_);
}

std::string HidrawTestbed::IdPath(int port) {
    return "pci-0000:00:14.0-usb-0:" + std::to_string(port);
}

sim::FamilyDevice& HidrawTestbed::AddFamilyDevice(sim::FamilyDeviceConfig config, int port,
                                                  bool withIdPath) {
    auto slot = std::make_unique<Slot>();
    slot->bed = this;
    slot->port = port;
    slot->withIdPath = withIdPath;
    slot->device = std::make_shared<sim::FamilyDevice>(std::move(config));
    sim::FamilyDevice& device = *slot->device;
    {
        std::lock_guard lock(syncLock_);
        slots_.push_back(std::move(slot));
    }
    Sync();
    return device;
}

void HidrawTestbed::AddMouse(int port) {
    auto slot = std::make_unique<Slot>();
    slot->bed = this;
    slot->port = port;
    slot->vendorId = kMouseVendor;
    slot->productId = kMouseProduct;
    slot->release = 0x0200;
    slot->descriptor = kMouseDescriptor;
    std::lock_guard lock(syncLock_);
    Add(*slot);
    slots_.push_back(std::move(slot));
}

void HidrawTestbed::DenyAccess(int port) {
    std::lock_guard lock(syncLock_);
    for (const auto& slot : slots_) {
        if (slot->port == port) {
            slot->denied = true;
            if (slot->present) {
                ::chmod(NodePath(*slot).c_str(), 0);
            }
        }
    }
}

std::uint32_t HidrawTestbed::Now() {
    return now_.TickCount();
}

int HidrawTestbed::Arrivals(int port) const {
    std::lock_guard lock(syncLock_);
    int arrivals = 0;
    for (const auto& slot : slots_) {
        arrivals += slot->port == port ? slot->arrivals : 0;
    }
    return arrivals;
}

std::string HidrawTestbed::NodePath(const Slot& slot) const {
    return root_ + "/dev/hidraw" + std::to_string(slot.hidrawNumber);
}

void HidrawTestbed::Sync() {
    std::lock_guard lock(syncLock_);
    for (const auto& slot : slots_) {
        if (slot->device == nullptr) {
            continue;
        }
        std::optional<sim::SimInterface> shown;
        {
            std::lock_guard deviceLock(slot->deviceLock);
            shown = slot->device->Interface(now_.TickCount());
        }
        if (slot->present && (!shown || shown->generation != slot->generation)) {
            Remove(*slot);
        }
        if (shown && !slot->present) {
            std::lock_guard deviceLock(slot->deviceLock);
            slot->generation = shown->generation;
            slot->vendorId = shown->vendorId;
            slot->productId = shown->productId;
            slot->release = shown->versionNumber;
            slot->descriptor = sim::FamilyReportDescriptor(shown->caps);
            Add(*slot);
        }
    }
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
    const std::string vendor = Hex4(slot.vendorId);
    const std::string product = Hex4(slot.productId);
    const std::string release = Hex4(slot.release);
    const std::string idPath = IdPath(slot.port);
    gchar* usb = umockdev_testbed_add_device(
        bed_, "usb", busPort.c_str(), nullptr, "busnum", "1", "devnum", port.c_str(), "devpath",
        port.c_str(), "idVendor", vendor.c_str(), "idProduct", product.c_str(), "bcdDevice",
        release.c_str(), nullptr, "DEVTYPE", "usb_device", slot.withIdPath ? "ID_PATH" : nullptr,
        idPath.c_str(), nullptr);
    gchar* interface =
        umockdev_testbed_add_device(bed_, "usb", (busPort + ":1.0").c_str(), usb, "bInterfaceClass",
                                    "03", nullptr, "DEVTYPE", "usb_interface", nullptr);
    // The kernel numbers HID devices across the whole system.
    const std::string hidName = "0003:" + vendor + ":" + product + "." + Hex4(++hidDevices_);
    gchar* hid =
        umockdev_testbed_add_device(bed_, "hid", hidName.c_str(), interface, nullptr, nullptr);
    const std::string name = "hidraw" + std::to_string(number);
    const std::string devnum = "241:" + std::to_string(number);
    const std::string devnode = "/dev/" + name;
    gchar* raw =
        umockdev_testbed_add_device(bed_, "hidraw", name.c_str(), hid, "dev", devnum.c_str(),
                                    nullptr, "DEVNAME", devnode.c_str(), nullptr);
    slot.syspaths.clear();
    for (gchar* path : {usb, interface, hid, raw}) {
        slot.syspaths.emplace_back(path);
        g_free(path);
    }
    // The test bed names the node but makes no file for it.
    std::ofstream(NodePath(slot)).flush();
    if (slot.denied) {
        ::chmod(NodePath(slot).c_str(), 0);
    }
    slot.handler = umockdev_ioctl_base_new();
    g_signal_connect(slot.handler, "handle-ioctl", G_CALLBACK(HandleIoctl), &slot);
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(bed_, devnode.c_str(), slot.handler, &error)) {
        const std::string message = error->message;
        g_clear_error(&error);
        throw std::runtime_error("attach_ioctl " + devnode + ": " + message);
    }
    slot.present = true;
    ++slot.arrivals;
}

void HidrawTestbed::Remove(Slot& slot) {
    const std::string devnode = "/dev/hidraw" + std::to_string(slot.hidrawNumber);
    GError* error = nullptr;
    if (!umockdev_testbed_detach_ioctl(bed_, devnode.c_str(), &error)) {
        g_clear_error(&error);
    }
    g_object_unref(slot.handler);
    slot.handler = nullptr;
    std::remove(NodePath(slot).c_str());
    // Children before parents, each with its own remove event.
    for (auto path = slot.syspaths.rbegin(); path != slot.syspaths.rend(); ++path) {
        umockdev_testbed_uevent(bed_, path->c_str(), "remove");
        umockdev_testbed_remove_device(bed_, path->c_str());
    }
    slot.syspaths.clear();
    slot.present = false;
}

void TestbedClock::Sleep(std::uint32_t ms) {
    time_.Sleep(ms);
    if (bed_ != nullptr) {
        bed_->Sync();
    }
}

}  // namespace torvane::test
