#include "platform/linux/interface_access.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <thread>

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

constexpr const char* kKilledHolder = "no driver: left by a program that was killed";

std::string SysfsName(const HidInterface& interface) {
    return interface.usbInterfacePath.substr(interface.usbInterfacePath.rfind('/') + 1);
}

// What the interface's driver tells: busy while another program claims it, a program killed
// while it held it when there is none; nullopt while the HID driver has it.
std::optional<AccessFinding> DriverFinding(const HidInterface& interface) {
    if (interface.usbInterfacePath.empty()) {
        return std::nullopt;
    }
    if (interface.driver == "usbfs") {
        std::string status = "busy: held by another program";
        const std::vector<int> holders = ProcessesHolding(interface.usbNode);
        for (std::size_t i = 0; i < holders.size(); ++i) {
            status += (i == 0 ? (holders.size() == 1 ? " (process " : " (processes ") : ", ") +
                      std::to_string(holders[i]);
        }
        return AccessFinding{false, holders.empty() ? status : status + ")", ""};
    }
    if (interface.driver.empty()) {
        return AccessFinding{false, kKilledHolder,
                             "give it back: echo " + SysfsName(interface) +
                                 " | sudo tee /sys/bus/usb/drivers_probe (or unplug the device "
                                 "and plug it in again)"};
    }
    return std::nullopt;
}

// True once the hidraw node of the USB interface opens, or the interface has none to wait for.
bool HidrawReady(const std::string& usbInterfacePath) {
    const std::optional<HidInterface> interface = LookUpHidInterface(usbInterfacePath);
    return !interface || (!interface->hidrawNode.empty() && OpenError(interface->hidrawNode) == 0);
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
    if (std::optional<AccessFinding> finding = DriverFinding(interface)) {
        return *finding;
    }
    return transport == Transport::kUsb ? ExamineUsb(interface)
                                        : ExamineHidraw(interface, inputReportId);
}

std::vector<int> ProcessesHolding(const std::string& node) {
    std::vector<int> holders;
    struct stat wanted {};
    if (node.empty() || ::stat(node.c_str(), &wanted) != 0) {
        return holders;
    }
    const int self = ::getpid();
    DIR* processes = ::opendir("/proc");
    if (processes == nullptr) {
        return holders;
    }
    while (const dirent* process = ::readdir(processes)) {
        const std::string_view name = process->d_name;
        int pid = 0;
        const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
        if (error != std::errc() || end != name.data() + name.size() || pid == self) {
            continue;
        }
        const std::string fdPath = "/proc/" + std::string(name) + "/fd";
        DIR* descriptors = ::opendir(fdPath.c_str());
        if (descriptors == nullptr) {
            continue;  // gone, or not ours to see
        }
        while (const dirent* descriptor = ::readdir(descriptors)) {
            struct stat opened {};
            if (descriptor->d_name[0] != '.' &&
                ::stat((fdPath + "/" + descriptor->d_name).c_str(), &opened) == 0 &&
                opened.st_rdev == wanted.st_rdev && opened.st_ino == wanted.st_ino &&
                opened.st_dev == wanted.st_dev) {
                holders.push_back(pid);
                break;
            }
        }
        ::closedir(descriptors);
    }
    ::closedir(processes);
    std::ranges::sort(holders);
    return holders;
}

std::vector<GivenBack> GiveBackDriverless(std::uint16_t vendorId) {
    std::vector<GivenBack> given;
    for (HidInterface& interface : VendorInterfaces(vendorId)) {
        if (interface.usbInterfacePath.empty() || !interface.driver.empty()) {
            continue;
        }
        int error = ENOENT;
        if (const int fd = interface.usbNode.empty()
                               ? -1
                               : ::open(interface.usbNode.c_str(), O_RDWR | O_CLOEXEC);
            fd < 0) {
            error = interface.usbNode.empty() ? ENOENT : errno;
        } else {
            usbdevfs_ioctl command{interface.interfaceNumber, static_cast<int>(USBDEVFS_CONNECT),
                                   nullptr};
            error = ::ioctl(fd, USBDEVFS_IOCTL, &command) < 0 ? errno : 0;
            ::close(fd);
            // The kernel answers 0 as well when none of its drivers takes the interface.
            char driver[256];
            if (error == 0 && ::readlink((interface.usbInterfacePath + "/driver").c_str(), driver,
                                         sizeof driver) < 0) {
                error = ENXIO;
            }
        }
        given.push_back({std::move(interface), error});
    }
    // The kernel makes the hidraw node at once; udev gives it its permissions a moment later.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    for (const GivenBack& each : given) {
        while (each.error == 0 && !HidrawReady(each.interface.usbInterfacePath) &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    return given;
}

AccessFinding GiveBackFinding(const GivenBack& given, const AccessFinding& examined) {
    if (given.error != 0) {
        AccessFinding finding = *DriverFinding(given.interface);
        finding.status += std::string(" (") + std::strerror(given.error) + ")";
        return finding;
    }
    AccessFinding finding = examined;
    finding.status = std::string(kKilledHolder) + "; given back" +
                     (examined.usable ? "" : ", but " + examined.status);
    return finding;
}

std::string GiveBackNote(const GivenBack& given) {
    const AccessFinding finding = GiveBackFinding(given, {true, "ok", ""});
    return SysfsName(given.interface) + " (" + given.interface.usbNode + "): " + finding.status +
           (finding.advice.empty() ? "" : ": " + finding.advice);
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
