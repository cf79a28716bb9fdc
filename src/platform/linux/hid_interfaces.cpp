#include "platform/linux/hid_interfaces.h"

#include <fcntl.h>
#include <libudev.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <memory>

namespace torvane::linux_hid {
namespace {

struct UdevDeleter {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, UdevDeleter>;

std::string_view Text(const char* text) {
    return text == nullptr ? std::string_view() : std::string_view(text);
}

// A numeric sysfs attribute such as idVendor ("3a7d", base 16) or bAlternateSetting (" 0",
// base 10); nullopt when absent or malformed.
std::optional<std::uint16_t> NumberAttribute(udev_device* device, const char* name, int base) {
    std::string_view text = Text(udev_device_get_sysattr_value(device, name));
    text.remove_prefix(std::min(text.find_first_not_of(' '), text.size()));
    std::uint16_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// The raw descriptors of a USB device: no more than the largest configuration set it can have.
std::vector<std::uint8_t> ReadDescriptors(udev_device* usb) {
    constexpr std::size_t kLimit = 1 << 16;
    std::vector<std::uint8_t> data(kLimit);
    const std::string path = std::string(Text(udev_device_get_syspath(usb))) + "/descriptors";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::size_t size = 0;
    if (fd >= 0) {
        ssize_t got = 0;
        while (size < kLimit && (got = ::read(fd, data.data() + size, kLimit - size)) > 0) {
            size += static_cast<std::size_t>(got);
        }
        ::close(fd);
    }
    data.resize(size);
    return data;
}

// False when the port cannot be named yet: its topology leaves the name to udev, which has not
// processed the device.
bool ReadUsbDevice(udev_device* usb, HidInterface& interface) {
    std::optional<std::string> path = TopologyPath(usb);
    if (!path && udev_device_get_is_initialized(usb) <= 0) {
        return false;
    }
    if (!path) {
        path = Text(udev_device_get_property_value(usb, "ID_PATH"));
    }
    const std::string_view busnum = Text(udev_device_get_sysattr_value(usb, "busnum"));
    const std::string_view devpath = Text(udev_device_get_sysattr_value(usb, "devpath"));
    interface.locationPath =
        !path->empty() ? *path : "usb-" + std::string(busnum) + "-" + std::string(devpath);
    interface.usbNode = Text(udev_device_get_devnode(usb));
    interface.vendorId = NumberAttribute(usb, "idVendor", 16).value_or(0);
    interface.productId = NumberAttribute(usb, "idProduct", 16).value_or(0);
    interface.release = NumberAttribute(usb, "bcdDevice", 16);
    interface.serial = Text(udev_device_get_sysattr_value(usb, "serial"));
    interface.locationInformation = LocationInformation(busnum, devpath);
    return true;
}

// The interface's number and whether its current setting has an interrupt OUT endpoint; false
// when its USB device's port cannot be named yet.
bool ReadUsbInterface(udev_device* usbInterface, HidInterface& interface) {
    // The parent belongs to the child: it is not released here.
    udev_device* usb =
        udev_device_get_parent_with_subsystem_devtype(usbInterface, "usb", "usb_device");
    if (usb == nullptr || !ReadUsbDevice(usb, interface)) {
        return false;
    }
    const auto number = NumberAttribute(usbInterface, "bInterfaceNumber", 16);
    const auto alternate = NumberAttribute(usbInterface, "bAlternateSetting", 10);
    const auto configuration = NumberAttribute(usb, "bConfigurationValue", 10);
    interface.interfaceNumber = static_cast<std::uint8_t>(number.value_or(0));
    interface.driver = Text(udev_device_get_driver(usbInterface));
    interface.interruptOut =
        number && configuration &&
        HasInterruptOut(ReadDescriptors(usb), static_cast<std::uint8_t>(*configuration),
                        interface.interfaceNumber,
                        static_cast<std::uint8_t>(alternate.value_or(0)));
    return true;
}

UdevPtr<udev_enumerate> Scan(udev* context, const char* subsystem, bool hidInterfaces) {
    UdevPtr<udev_enumerate> enumeration(udev_enumerate_new(context));
    if (!enumeration || udev_enumerate_add_match_subsystem(enumeration.get(), subsystem) < 0 ||
        // Only interfaces have a ':' in their names: the devices and hubs are not even read.
        (hidInterfaces &&
         (udev_enumerate_add_match_sysname(enumeration.get(), "*:*") < 0 ||
          udev_enumerate_add_match_property(enumeration.get(), "DEVTYPE", "usb_interface") < 0 ||
          udev_enumerate_add_match_sysattr(enumeration.get(), "bInterfaceClass", "03") < 0)) ||
        udev_enumerate_scan_devices(enumeration.get()) < 0) {
        return nullptr;
    }
    return enumeration;
}

struct Listed {
    std::string sysname;
    HidInterface interface;
};

// The vendor and product ID of a HID device without a USB device, from its HID_ID ("bus:vendor:
// product" in hex).
void ReadHidIds(udev_device* hid, HidInterface& interface) {
    const std::string_view id = Text(udev_device_get_property_value(hid, "HID_ID"));
    const std::size_t first = id.find(':');
    const std::size_t second = first == std::string_view::npos ? first : id.find(':', first + 1);
    if (second == std::string_view::npos) {
        return;
    }
    std::from_chars(id.data() + first + 1, id.data() + second, interface.vendorId, 16);
    std::from_chars(id.data() + second + 1, id.data() + id.size(), interface.productId, 16);
}

// The node, and the HID device it belongs to (its parent).
void ReadNode(udev_device* node, HidInterface& interface) {
    interface.hidrawNode = interface.devicePath = Text(udev_device_get_devnode(node));
    // The parent belongs to the child: it is not released here.
    interface.hidDevicePath = Text(udev_device_get_syspath(udev_device_get_parent(node)));
}

// Fills in what a hidraw node tells of its interface; false when its USB device's port cannot be
// named yet.
bool ReadHidrawNode(udev_device* node, HidInterface& interface) {
    ReadNode(node, interface);
    // A node on a USB interface of another class still has its USB device.
    if (udev_device* usbInterface =
            udev_device_get_parent_with_subsystem_devtype(node, "usb", "usb_interface")) {
        interface.usbInterfacePath = Text(udev_device_get_syspath(usbInterface));
        return ReadUsbInterface(usbInterface, interface);
    }
    // The parent belongs to the child: it is not released here.
    if (udev_device* hid = udev_device_get_parent(node)) {
        ReadHidIds(hid, interface);
    }
    return true;
}

// Every hidraw node; a node below one of usbInterfaces (within the HID device between them) is
// that interface's, the others are returned.
std::vector<Listed> HidrawNodes(udev* context, std::vector<Listed>& usbInterfaces) {
    std::vector<Listed> nodes;
    const UdevPtr<udev_enumerate> enumeration = Scan(context, "hidraw", false);
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(
        entry, enumeration ? udev_enumerate_get_list_entry(enumeration.get()) : nullptr) {
        const UdevPtr<udev_device> device(
            udev_device_new_from_syspath(context, udev_list_entry_get_name(entry)));
        if (!device || udev_device_get_devnode(device.get()) == nullptr) {
            continue;
        }
        const std::string syspath(Text(udev_device_get_syspath(device.get())));
        const auto owner = std::ranges::find_if(usbInterfaces, [&syspath](const Listed& usb) {
            const std::string& path = usb.interface.usbInterfacePath;
            return syspath.size() > path.size() && syspath.starts_with(path) &&
                   syspath[path.size()] == '/';
        });
        if (owner != usbInterfaces.end()) {
            if (owner->interface.hidrawNode.empty()) {
                ReadNode(device.get(), owner->interface);
            }
            continue;
        }
        Listed listed;
        listed.sysname = Text(udev_device_get_sysname(device.get()));
        if (ReadHidrawNode(device.get(), listed.interface)) {
            nodes.push_back(std::move(listed));
        }
    }
    return nodes;
}

// The hidraw node under a USB interface, if the HID driver made one.
UdevPtr<udev_device> HidrawChild(udev* context, udev_device* usbInterface) {
    UdevPtr<udev_enumerate> enumeration(udev_enumerate_new(context));
    if (!enumeration || udev_enumerate_add_match_subsystem(enumeration.get(), "hidraw") < 0 ||
        udev_enumerate_add_match_parent(enumeration.get(), usbInterface) < 0 ||
        udev_enumerate_scan_devices(enumeration.get()) < 0) {
        return nullptr;
    }
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration.get())) {
        UdevPtr<udev_device> node(
            udev_device_new_from_syspath(context, udev_list_entry_get_name(entry)));
        if (node && udev_device_get_devnode(node.get()) != nullptr) {
            return node;
        }
    }
    return nullptr;
}

bool IsHidUsbInterface(udev_device* device) {
    return Text(udev_device_get_subsystem(device)) == "usb" &&
           Text(udev_device_get_devtype(device)) == "usb_interface" &&
           Text(udev_device_get_sysattr_value(device, "bInterfaceClass")) == "03";
}

std::atomic<TransportPreference> preference{TransportPreference::kAuto};
std::atomic<std::uint64_t> listings{0};

}  // namespace

std::uint64_t ListingCount() {
    return listings.load();
}

std::vector<HidInterface> ListHidInterfaces() {
    ++listings;
    std::vector<HidInterface> interfaces;
    const UdevPtr<udev> context(udev_new());
    if (!context) {
        return interfaces;
    }
    std::vector<Listed> usbInterfaces;
    const UdevPtr<udev_enumerate> enumeration = Scan(context.get(), "usb", true);
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(
        entry, enumeration ? udev_enumerate_get_list_entry(enumeration.get()) : nullptr) {
        const UdevPtr<udev_device> device(
            udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        if (!device) {
            continue;
        }
        Listed listed;
        listed.sysname = Text(udev_device_get_sysname(device.get()));
        listed.interface.usbInterfacePath = Text(udev_device_get_syspath(device.get()));
        listed.interface.devicePath = listed.interface.usbInterfacePath;
        if (ReadUsbInterface(device.get(), listed.interface)) {
            usbInterfaces.push_back(std::move(listed));
        }
    }
    std::vector<Listed> nodes = HidrawNodes(context.get(), usbInterfaces);
    for (std::vector<Listed>* group : {&usbInterfaces, &nodes}) {
        std::ranges::sort(*group, NaturalLess, &Listed::sysname);
        for (Listed& listed : *group) {
            interfaces.push_back(std::move(listed.interface));
        }
    }
    return interfaces;
}

std::optional<HidInterface> LookUpHidInterface(std::string_view path) {
    const UdevPtr<udev> context(udev_new());
    if (!context || path.empty()) {
        return std::nullopt;
    }
    HidInterface interface;
    UdevPtr<udev_device> node;
    UdevPtr<udev_device> usbInterface;
    if (path.starts_with("/sys/")) {
        usbInterface.reset(udev_device_new_from_syspath(context.get(), std::string(path).c_str()));
        if (!usbInterface || !IsHidUsbInterface(usbInterface.get())) {
            return std::nullopt;
        }
        node = HidrawChild(context.get(), usbInterface.get());
    } else {
        // A hidraw node is named for its device: /dev/hidrawN is the hidraw device hidrawN.
        const std::string name(path.substr(path.rfind('/') + 1));
        node.reset(udev_device_new_from_subsystem_sysname(context.get(), "hidraw", name.c_str()));
        if (!node || Text(udev_device_get_devnode(node.get())) != path) {
            return std::nullopt;
        }
    }
    if (node) {
        return ReadHidrawNode(node.get(), interface) ? std::optional(interface) : std::nullopt;
    }
    interface.usbInterfacePath = interface.devicePath =
        Text(udev_device_get_syspath(usbInterface.get()));
    return ReadUsbInterface(usbInterface.get(), interface) ? std::optional(interface)
                                                           : std::nullopt;
}

bool NaturalLess(std::string_view a, std::string_view b) {
    const auto digitRun = [](std::string_view text, std::size_t from) {
        const std::size_t end = text.find_first_not_of("0123456789", from);
        return text.substr(from, end == std::string_view::npos ? text.npos : end - from);
    };
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const std::string_view x = digitRun(a, i);
        const std::string_view y = digitRun(b, j);
        if (!x.empty() && !y.empty()) {
            if (x.size() != y.size()) {
                return x.size() < y.size();
            }
            if (x != y) {
                return x < y;
            }
            i += x.size();
            j += y.size();
        } else if (a[i] != b[j]) {
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        } else {
            ++i;
            ++j;
        }
    }
    return i == a.size() && j < b.size();
}

Transport ChooseTransport(const HidInterface& interface) {
    if (interface.usbNode.empty()) {
        return Transport::kHidraw;
    }
    switch (preference.load()) {
        case TransportPreference::kHidraw:
            return Transport::kHidraw;
        case TransportPreference::kUsb:
            return Transport::kUsb;
        case TransportPreference::kAuto:
            break;
    }
    return interface.interruptOut ? Transport::kUsb : Transport::kHidraw;
}

std::vector<HidInterface> VendorInterfaces(std::uint16_t vendorId) {
    std::vector<HidInterface> interfaces = ListHidInterfaces();
    std::erase_if(interfaces, [vendorId](const HidInterface& interface) {
        return interface.vendorId != vendorId;
    });
    return interfaces;
}

const std::string& NodeOf(const HidInterface& interface, Transport transport) {
    if (transport == Transport::kUsb) {
        return interface.usbNode;
    }
    return interface.hidrawNode.empty() ? interface.devicePath : interface.hidrawNode;
}

int AccessError(const HidInterface& interface, Transport transport) {
    const std::string& node =
        transport == Transport::kUsb ? interface.usbNode : interface.hidrawNode;
    if (node.empty()) {
        return ENOENT;
    }
    return ::access(node.c_str(), R_OK | W_OK) < 0 ? errno : 0;
}

bool StillSettingUp(const HidInterface& interface) {
    if (!interface.hidrawNode.empty()) {
        return true;
    }
    const std::string& path = interface.usbInterfacePath;
    const std::string configuration = path.substr(0, path.rfind('/')) + "/bConfigurationValue";
    if (const int fd = ::open(configuration.c_str(), O_RDONLY | O_CLOEXEC); fd >= 0) {
        char value[8];
        // Only the wait counts, not what is read.
        const ssize_t got = ::read(fd, value, sizeof value);
        static_cast<void>(got);
        ::close(fd);
    }
    char driver[256];
    return ::readlink((path + "/driver").c_str(), driver, sizeof driver) > 0;
}

}  // namespace torvane::linux_hid

namespace torvane {

void SetTransportPreference(TransportPreference chosen) {
    linux_hid::preference = chosen;
}

}  // namespace torvane
