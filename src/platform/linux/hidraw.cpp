#include "platform/linux/hidraw.h"

#include <libudev.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <memory>
#include <tuple>

#include "platform/hid_report_descriptor.h"

// The report ioctls of Linux 5.11, for system headers older than that.
#ifndef HIDIOCSOUTPUT
#define HIDIOCSOUTPUT(len) _IOC(_IOC_WRITE | _IOC_READ, 'H', 0x0B, len)
#endif
#ifndef HIDIOCGINPUT
#define HIDIOCGINPUT(len) _IOC(_IOC_WRITE | _IOC_READ, 'H', 0x0A, len)
#endif

namespace torvane::hidraw {
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

// A hexadecimal sysfs attribute such as idVendor ("3a7d"); nullopt when absent or malformed.
std::optional<std::uint16_t> HexAttribute(udev_device* device, const char* name) {
    const std::string_view text = Text(udev_device_get_sysattr_value(device, name));
    std::uint16_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<Node> ReadNode(udev* context, const char* syspath) {
    const UdevPtr<udev_device> device(udev_device_new_from_syspath(context, syspath));
    if (!device || udev_device_get_devnode(device.get()) == nullptr) {
        return std::nullopt;
    }
    Node node;
    node.sysname = Text(udev_device_get_sysname(device.get()));
    node.devnode = udev_device_get_devnode(device.get());
    // The parent belongs to the child: it is not released here.
    udev_device* usb =
        udev_device_get_parent_with_subsystem_devtype(device.get(), "usb", "usb_device");
    if (usb != nullptr) {
        node.vendorId = HexAttribute(usb, "idVendor").value_or(0);
        node.productId = HexAttribute(usb, "idProduct").value_or(0);
        node.release = HexAttribute(usb, "bcdDevice");
        const std::string_view busnum = Text(udev_device_get_sysattr_value(usb, "busnum"));
        const std::string_view devpath = Text(udev_device_get_sysattr_value(usb, "devpath"));
        node.locationPath =
            LocationPath(udev_device_get_property_value(usb, "ID_PATH"), busnum, devpath);
        node.locationInformation = LocationInformation(busnum, devpath);
    }
    return node;
}

// The ioctl's size field holds 14 bits: longer reports cannot be asked for.
int ReportIoctl(int fd, unsigned long request, void* report, std::size_t size) {
    if (size == 0 || size > _IOC_SIZEMASK) {
        return EMSGSIZE;
    }
    return ::ioctl(fd, request, report) < 0 ? errno : 0;
}

}  // namespace

std::string LocationPath(const char* idPath, std::string_view busnum, std::string_view devpath) {
    if (idPath != nullptr && *idPath != '\0') {
        return idPath;
    }
    return "usb-" + std::string(busnum) + "-" + std::string(devpath);
}

std::string LocationInformation(std::string_view busnum, std::string_view devpath) {
    return "Port_#" + std::string(devpath) + " Bus " + std::string(busnum);
}

bool SysnameBefore(std::string_view a, std::string_view b) {
    const auto split = [](std::string_view name) {
        const std::size_t digits = name.find_first_of("0123456789");
        const std::string_view stem = name.substr(0, digits);
        const std::string_view number =
            digits == std::string_view::npos ? std::string_view() : name.substr(digits);
        return std::tuple(stem, number.size(), number);
    };
    // Numbers of the same stem compare by length first, so that 2 comes before 10.
    return split(a) < split(b);
}

std::vector<Node> ListNodes() {
    std::vector<Node> nodes;
    const UdevPtr<udev> context(udev_new());
    if (!context) {
        return nodes;
    }
    const UdevPtr<udev_enumerate> enumeration(udev_enumerate_new(context.get()));
    if (!enumeration || udev_enumerate_add_match_subsystem(enumeration.get(), "hidraw") < 0 ||
        udev_enumerate_scan_devices(enumeration.get()) < 0) {
        return nodes;
    }
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration.get())) {
        if (std::optional<Node> node = ReadNode(context.get(), udev_list_entry_get_name(entry))) {
            nodes.push_back(std::move(*node));
        }
    }
    std::ranges::sort(nodes, SysnameBefore, &Node::sysname);
    return nodes;
}

OpenNode& ToNode(DeviceHandle handle) {
    return *reinterpret_cast<OpenNode*>(handle.value);
}

std::optional<HidCaps> ParseCaps(std::span<const std::uint8_t> descriptor) {
    const std::optional<ReportDescriptorSummary> summary = SummarizeReportDescriptor(descriptor);
    if (!summary) {
        return std::nullopt;
    }
    HidCaps caps;
    caps.usage = summary->usage;
    caps.usagePage = summary->usagePage;
    caps.inputReportByteLength = summary->inputReportByteLength;
    caps.outputReportByteLength = summary->outputReportByteLength;
    caps.featureReportByteLength = summary->featureReportByteLength;
    return caps;
}

std::optional<HidCaps> ReadCaps(int fd, int& error) {
    int size = 0;
    if (::ioctl(fd, HIDIOCGRDESCSIZE, &size) < 0) {
        error = errno;
        return std::nullopt;
    }
    hidraw_report_descriptor descriptor{};
    // The kernel never reports more than its own buffer holds; a driver might.
    descriptor.size = static_cast<std::uint32_t>(std::clamp(size, 0, HID_MAX_DESCRIPTOR_SIZE));
    if (::ioctl(fd, HIDIOCGRDESC, &descriptor) < 0) {
        error = errno;
        return std::nullopt;
    }
    const std::optional<HidCaps> caps = ParseCaps(std::span(descriptor.value, descriptor.size));
    if (!caps) {
        error = EINVAL;
    }
    return caps;
}

int SetOutputReport(int fd, std::span<const std::uint8_t> report) {
    // The kernel only reads the buffer.
    return ReportIoctl(fd, HIDIOCSOUTPUT(report.size()), const_cast<std::uint8_t*>(report.data()),
                       report.size());
}

int GetInputReport(int fd, std::span<std::uint8_t> report) {
    return ReportIoctl(fd, HIDIOCGINPUT(report.size()), report.data(), report.size());
}

bool IsMissingReportIoctl(int error) {
    return error == ENOTTY || error == EINVAL;
}

}  // namespace torvane::hidraw
