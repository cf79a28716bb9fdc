#include "platform/linux/interface_access.h"

#include <fcntl.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/linux/hidraw.h"

namespace torvane::linux_hid {
namespace {

constexpr const char* kRuleHint =
    "install the udev rule: cmake --install build/linux-release --prefix /usr (or copy "
    "70-torvane.rules to "
    "/etc/udev/rules.d), then run: udevadm control --reload && udevadm trigger; unplug and "
    "plug the device in again";

std::string KernelRelease() {
    utsname name{};
    return ::uname(&name) == 0 ? name.release : "unknown";
}

AccessFinding Unopened(int error, const std::string& ruleHint) {
    if (error == EACCES || error == EPERM) {
        return {false, "access denied", ruleHint};
    }
    return {false, std::string("cannot be opened: ") + std::strerror(error), ""};
}

AccessFinding ExamineHidraw(const HidInterface& interface, std::uint8_t inputReportId) {
    if (interface.hidrawNode.empty()) {
        return {false, "no hidraw node: the interface is detached from the HID driver",
                "another program may hold it; or run with --transport=usb"};
    }
    const int fd = ::open(interface.hidrawNode.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        return Unopened(errno, kRuleHint);
    }
    AccessFinding finding{true, "ok", ""};
    int capsError = 0;
    if (const std::optional<HidCaps> caps = hidraw::ReadCaps(fd, capsError); !caps) {
        finding = {false, std::string("report descriptor unreadable: ") + std::strerror(capsError),
                   ""};
    } else if (caps->inputReportByteLength > 0) {
        std::vector<std::uint8_t> report(caps->inputReportByteLength, 0);
        report[0] = inputReportId;
        if (hidraw::IsMissingReportIoctl(hidraw::GetInputReport(fd, report))) {
            finding = {false, "kernel too old for the report ioctls",
                       "Linux " + std::string(hidraw::kReportIoctlsKernel) +
                           " or newer is needed; this is " + KernelRelease()};
        }
    }
    ::close(fd);
    return finding;
}

AccessFinding ExamineUsb(const HidInterface& interface) {
    if (const int error = OpenError(interface.usbNode); error != 0) {
        return Unopened(error,
                        std::string("the USB device node needs the rule as well: ") + kRuleHint);
    }
    return {true, "ok", ""};
}

}  // namespace

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

AccessFinding ExamineInterface(const HidInterface& interface, Transport transport,
                               std::uint8_t inputReportId) {
    return transport == Transport::kUsb ? ExamineUsb(interface)
                                        : ExamineHidraw(interface, inputReportId);
}

std::optional<std::string> UnusableInterfaceHint(std::uint16_t vendorId,
                                                 std::uint8_t inputReportId) {
    for (const HidInterface& interface : VendorInterfaces(vendorId)) {
        const Transport transport = ChooseTransport(interface);
        const AccessFinding finding = ExamineInterface(interface, transport, inputReportId);
        if (!finding.usable) {
            std::string hint = "a device of the family was found but cannot be used (" +
                               NodeOf(interface, transport) + ": " + finding.status + ")";
            return finding.advice.empty() ? hint : hint + ": " + finding.advice;
        }
    }
    return std::nullopt;
}

}  // namespace torvane::linux_hid
