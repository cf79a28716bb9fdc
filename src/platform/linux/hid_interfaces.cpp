#include "platform/linux/hid_interfaces.h"

#include <fcntl.h>
#include <libudev.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <fstream>
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

void ReadUsbDevice(udev_device* usb, HidInterface& interface) {
    interface.usbNode = Text(udev_device_get_devnode(usb));
    interface.vendorId = NumberAttribute(usb, "idVendor", 16).value_or(0);
    interface.productId = NumberAttribute(usb, "idProduct", 16).value_or(0);
    interface.release = NumberAttribute(usb, "bcdDevice", 16);
    const std::string_view busnum = Text(udev_device_get_sysattr_value(usb, "busnum"));
    const std::string_view devpath = Text(udev_device_get_sysattr_value(usb, "devpath"));
    interface.locationPath =
        LocationPath(udev_device_get_property_value(usb, "ID_PATH"), busnum, devpath);
    interface.locationInformation = LocationInformation(busnum, devpath);
}

// The interface's number and whether its current setting has an interrupt OUT endpoint.
void ReadUsbInterface(udev_device* usbInterface, HidInterface& interface) {
    // The parent belongs to the child: it is not released here.
    udev_device* usb =
        udev_device_get_parent_with_subsystem_devtype(usbInterface, "usb", "usb_device");
    if (usb == nullptr) {
        return;
    }
    ReadUsbDevice(usb, interface);
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

// The value of KEY in a sysfs device's uevent file, or empty.
std::string UeventValue(const std::string& syspath, std::string_view key) {
    std::ifstream uevent(syspath + "/uevent");
    for (std::string line; std::getline(uevent, line);) {
        if (line.size() > key.size() && line.starts_with(key) && line[key.size()] == '=') {
            return line.substr(key.size() + 1);
        }
    }
    return {};
}

// Every hidraw node, read from its sysfs path alone; a node below one of usbInterfaces (within
// the HID device between them) is that interface's, the others are returned.
std::vector<Listed> HidrawNodes(udev* context, std::vector<Listed>& usbInterfaces) {
    std::vector<Listed> nodes;
    const UdevPtr<udev_enumerate> enumeration = Scan(context, "hidraw", false);
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(
        entry, enumeration ? udev_enumerate_get_list_entry(enumeration.get()) : nullptr) {
        const std::string syspath = udev_list_entry_get_name(entry);
        const std::string devname = UeventValue(syspath, "DEVNAME");
        if (devname.empty()) {
            continue;
        }
        const std::string node = devname.starts_with('/') ? devname : "/dev/" + devname;
        const auto owner = std::ranges::find_if(usbInterfaces, [&syspath](const Listed& usb) {
            const std::string& path = usb.interface.usbInterfacePath;
            return syspath.size() > path.size() && syspath.starts_with(path) &&
                   syspath[path.size()] == '/';
        });
        if (owner != usbInterfaces.end()) {
            if (owner->interface.hidrawNode.empty()) {
                owner->interface.hidrawNode = owner->interface.devicePath = node;
            }
            continue;
        }
        Listed listed;
        listed.sysname = syspath.substr(syspath.rfind('/') + 1);
        listed.interface.hidrawNode = listed.interface.devicePath = node;
        // A node on a USB interface of another class still has its USB device.
        const UdevPtr<udev_device> device(udev_device_new_from_syspath(context, syspath.c_str()));
        if (udev_device* usbInterface = device ? udev_device_get_parent_with_subsystem_devtype(
                                                     device.get(), "usb", "usb_interface")
                                               : nullptr) {
            listed.interface.usbInterfacePath = Text(udev_device_get_syspath(usbInterface));
            ReadUsbInterface(usbInterface, listed.interface);
        }
        nodes.push_back(std::move(listed));
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
        ReadUsbInterface(device.get(), listed.interface);
        usbInterfaces.push_back(std::move(listed));
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
    // The parents belong to their children: they are not released here.
    udev_device* usb = usbInterface.get();
    if (node) {
        interface.hidrawNode = udev_device_get_devnode(node.get());
        if (usb == nullptr) {
            usb = udev_device_get_parent_with_subsystem_devtype(node.get(), "usb", "usb_interface");
        }
    }
    if (usb != nullptr) {
        interface.usbInterfacePath = Text(udev_device_get_syspath(usb));
        ReadUsbInterface(usb, interface);
    }
    interface.devicePath = node ? interface.hidrawNode : interface.usbInterfacePath;
    return interface;
}

std::string LocationPath(const char* idPath, std::string_view busnum, std::string_view devpath) {
    if (idPath != nullptr && *idPath != '\0') {
        return idPath;
    }
    return "usb-" + std::string(busnum) + "-" + std::string(devpath);
}

std::string LocationInformation(std::string_view busnum, std::string_view devpath) {
    return "Port_#" + std::string(devpath) + " Bus " + std::string(busnum);
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

bool HasInterruptOut(std::span<const std::uint8_t> descriptors, std::uint8_t configuration,
                     std::uint8_t interfaceNumber, std::uint8_t alternate) {
    constexpr std::uint8_t kConfiguration = 2, kInterface = 4, kEndpoint = 5;
    bool inConfiguration = false;
    bool inInterface = false;
    std::size_t at = 0;
    while (descriptors.size() - at >= 2) {
        const std::size_t length = descriptors[at];
        const std::uint8_t type = descriptors[at + 1];
        const std::size_t needed = type == kConfiguration || type == kInterface ? 9
                                   : type == kEndpoint                          ? 7
                                                                                : 2;
        if (length < needed || length > descriptors.size() - at) {
            return false;
        }
        const std::span<const std::uint8_t> descriptor = descriptors.subspan(at, length);
        if (type == kConfiguration) {
            inConfiguration = descriptor[5] == configuration;
            inInterface = false;
        } else if (type == kInterface) {
            inInterface =
                inConfiguration && descriptor[2] == interfaceNumber && descriptor[3] == alternate;
        } else if (type == kEndpoint && inInterface && (descriptor[2] & 0x80) == 0 &&
                   (descriptor[3] & 0x03) == 0x03) {
            return true;
        }
        at += length;
    }
    return false;
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

int OpenError(const std::string& node) {
    if (node.empty()) {
        return ENOENT;
    }
    const int fd = ::open(node.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    ::close(fd);
    return 0;
}

}  // namespace torvane::linux_hid

namespace torvane {

void SetTransportPreference(TransportPreference chosen) {
    linux_hid::preference = chosen;
}

}  // namespace torvane
