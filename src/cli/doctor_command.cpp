#include "cli/doctor_command.h"

#include <fcntl.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_options.h"
#include "cli/json_text.h"
#include "platform/linux/hid_interfaces.h"
#include "platform/linux/hidraw.h"
#include "protocol/family.h"

namespace torvane::cli {
namespace {

constexpr const char* kRuleHint =
    "install the udev rule: cmake --install build/linux-release --prefix /usr (or copy "
    "70-torvane.rules to "
    "/etc/udev/rules.d), then run: udevadm control --reload && udevadm trigger; unplug and "
    "plug the device in again";

std::string Hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

std::string KernelRelease() {
    utsname name{};
    return ::uname(&name) == 0 ? name.release : "unknown";
}

struct Finding {
    bool usable = false;
    std::string status;
    std::string advice;
};

// 0 when the node opens for reading and writing, else the errno.
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

Finding Unopened(int error, const std::string& ruleHint) {
    if (error == EACCES || error == EPERM) {
        return {false, "access denied", ruleHint};
    }
    return {false, std::string("cannot be opened: ") + std::strerror(error), ""};
}

// Reads the node's capabilities and asks for an input report, as the engine would.
Finding ExamineHidraw(const linux_hid::HidInterface& interface) {
    if (interface.hidrawNode.empty()) {
        return {false, "no hidraw node: the interface is detached from the HID driver",
                "another program may hold it; or run with --transport=usb"};
    }
    const int fd = ::open(interface.hidrawNode.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        return Unopened(errno, kRuleHint);
    }
    Finding finding{true, "ok", ""};
    int capsError = 0;
    if (const std::optional<HidCaps> caps = hidraw::ReadCaps(fd, capsError); !caps) {
        finding = {false, std::string("report descriptor unreadable: ") + std::strerror(capsError),
                   ""};
    } else if (caps->inputReportByteLength > 0) {
        std::vector<std::uint8_t> report(caps->inputReportByteLength, 0);
        report[0] = family::kInputReportId;
        if (hidraw::IsMissingReportIoctl(hidraw::GetInputReport(fd, report))) {
            finding = {false, "kernel too old for the report ioctls",
                       "Linux " + std::string(hidraw::kReportIoctlsKernel) +
                           " or newer is needed; this is " + KernelRelease()};
        }
    }
    ::close(fd);
    return finding;
}

// The USB device node is only opened: claiming the interface would take it from its driver.
Finding ExamineUsb(const linux_hid::HidInterface& interface) {
    if (const int error = OpenError(interface.usbNode); error != 0) {
        return Unopened(error,
                        std::string("the USB device node needs the rule as well: ") + kRuleHint);
    }
    return {true, "ok", ""};
}

std::string TransportText(const linux_hid::HidInterface& interface,
                          linux_hid::Transport transport) {
    if (transport == linux_hid::Transport::kHidraw) {
        return interface.interruptOut ? "hidraw (--transport=hidraw)" : "hidraw";
    }
    return interface.interruptOut ? "usb (interrupt OUT endpoint)" : "usb (--transport=usb)";
}

std::vector<linux_hid::HidInterface> FamilyInterfaces() {
    std::vector<linux_hid::HidInterface> interfaces = linux_hid::ListHidInterfaces();
    std::erase_if(interfaces, [](const linux_hid::HidInterface& interface) {
        return interface.vendorId != family::kVendorId;
    });
    return interfaces;
}

// The node a transport opens: the USB device node for usbfs, else the hidraw node (or, while
// there is none, the interface's path).
const std::string& NodeOf(const linux_hid::HidInterface& interface,
                          linux_hid::Transport transport) {
    if (transport == linux_hid::Transport::kUsb) {
        return interface.usbNode;
    }
    return interface.hidrawNode.empty() ? interface.devicePath : interface.hidrawNode;
}

}  // namespace

int RunDoctor(std::ostream& out, bool json) {
    const std::vector<linux_hid::HidInterface> interfaces = FamilyInterfaces();
    bool allUsable = !interfaces.empty();
    for (const linux_hid::HidInterface& interface : interfaces) {
        const linux_hid::Transport transport = linux_hid::ChooseTransport(interface);
        const bool usb = transport == linux_hid::Transport::kUsb;
        const Finding finding = usb ? ExamineUsb(interface) : ExamineHidraw(interface);
        const std::string& node = NodeOf(interface, transport);
        allUsable = allUsable && finding.usable;
        if (json) {
            out << JsonText(nlohmann::json{{"event", "node"},
                                           {"node", node},
                                           {"productId", Hex4(interface.productId)},
                                           {"location", interface.locationPath},
                                           {"transport", usb ? "usb" : "hidraw"},
                                           {"usable", finding.usable},
                                           {"status", finding.status},
                                           {"advice", finding.advice}})
                << '\n';
            continue;
        }
        out << node << "  product " << Hex4(interface.productId) << "  " << interface.locationPath
            << "  " << TransportText(interface, transport) << "  " << finding.status << '\n';
        if (!finding.advice.empty()) {
            out << "  " << finding.advice << '\n';
        }
    }
    if (interfaces.empty()) {
        const std::string text =
            "no HID interface of vendor " + Hex4(family::kVendorId) + ": is a device plugged in?";
        out << (json ? JsonText(nlohmann::json{{"event", "none"}, {"text", text}}) : text) << '\n';
    }
    return allUsable ? kExitOk : kExitFailed;
}

std::optional<std::string> DoctorHint() {
    for (const linux_hid::HidInterface& interface : FamilyInterfaces()) {
        const linux_hid::Transport transport = linux_hid::ChooseTransport(interface);
        if (OpenError(NodeOf(interface, transport)) != 0) {
            return "a device of the family was found but could not be opened: run torvane-cli "
                   "doctor";
        }
    }
    return std::nullopt;
}

}  // namespace torvane::cli
