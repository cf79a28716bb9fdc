// Device access seam on sysfs, hidraw and usbfs: each HID interface of the vendor examined as its
// transport uses it.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>

#include "platform/device_access.h"
#include "platform/device_lock.h"
#include "platform/linux/hid_interfaces.h"
#include "platform/linux/hidraw.h"
#include "platform/linux/process_holders.h"

namespace torvane {
namespace {

using linux_hid::HidInterface;

std::string KernelRelease() {
    utsname name{};
    return ::uname(&name) == 0 ? name.release : "unknown";
}

void Unopened(InterfaceAccess& access, int error) {
    access.problem =
        error == EACCES || error == EPERM ? AccessProblem::kDenied : AccessProblem::kUnopened;
    access.error = error;
}

// What the interface's driver tells: busy while another program claims it; when there is none,
// still being set up, or a program killed while it held it; false while the HID driver has it.
bool DriverProblem(const HidInterface& interface, InterfaceAccess& access) {
    if (interface.usbInterfacePath.empty()) {
        return false;
    }
    if (interface.driver == "usbfs") {
        access.problem = AccessProblem::kBusy;
        access.holders = linux_hid::ProcessesHolding(interface.usbNode);
        return true;
    }
    if (interface.driver.empty()) {
        access.problem = linux_hid::StillSettingUp(interface) ? AccessProblem::kSettingUp
                                                              : AccessProblem::kDriverless;
        return true;
    }
    return false;
}

void ExamineHidraw(const HidInterface& interface, std::uint8_t inputReportId,
                   InterfaceAccess& access) {
    if (interface.hidrawNode.empty()) {
        access.problem = AccessProblem::kNoHidrawNode;
        return;
    }
    const int fd = ::open(interface.hidrawNode.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        Unopened(access, errno);
        return;
    }
    int capsError = 0;
    if (const std::optional<HidCaps> caps = hidraw::ReadCaps(interface.hidDevicePath, capsError);
        !caps) {
        access.problem = AccessProblem::kUnreadableCaps;
        access.error = capsError;
    } else if (caps->inputReportByteLength > 0) {
        // The input report may be the answer another program waits for: asked under the lock.
        std::uint32_t holder = 0;
        const std::unique_ptr<DeviceLock> lock =
            SystemDeviceLocks().TryLock(interface.locationPath, holder);
        std::vector<std::uint8_t> report(caps->inputReportByteLength, 0);
        report[0] = inputReportId;
        if (!lock) {
            access.problem = AccessProblem::kLocked;
            if (holder != 0) {
                access.holders = {static_cast<int>(holder)};
            }
        } else if (hidraw::IsMissingReportIoctl(hidraw::GetInputReport(fd, report))) {
            access.problem = AccessProblem::kNoReportIoctls;
            access.neededRelease = hidraw::kReportIoctlsKernel;
            access.runningRelease = KernelRelease();
        }
    }
    ::close(fd);
}

// The groups user is in: its own, and those /etc/group (or the system's other sources) add.
std::vector<gid_t> GroupsOf(const char* user, gid_t primary) {
    std::vector<gid_t> groups(16);
    int count = static_cast<int>(groups.size());
    while (::getgrouplist(user, primary, groups.data(), &count) < 0) {
        groups.resize(static_cast<std::size_t>(count) + 16);
        count = static_cast<int>(groups.size());
    }
    groups.resize(static_cast<std::size_t>(count));
    return groups;
}

std::string GroupName(gid_t gid) {
    group entry{};
    group* found = nullptr;
    std::vector<char> buffer(4096);
    if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found) {
        return found->gr_name;
    }
    return std::to_string(gid);
}

}  // namespace

std::optional<UserNodeAccess> ExamineUserAccess(const std::string& user, const std::string& node) {
    passwd entry{};
    passwd* account = nullptr;
    std::vector<char> buffer(4096);
    struct stat status {};
    if (::getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &account) != 0 ||
        !account || ::stat(node.c_str(), &status) != 0) {
        return std::nullopt;
    }
    UserNodeAccess access;
    access.group = GroupName(status.st_gid);
    access.mode = status.st_mode & 07777;
    // The class the user is in, as the kernel picks it: owner, else group, else the others.
    unsigned bits = access.mode;
    if (account->pw_uid == status.st_uid) {
        bits >>= 6;
    } else if (const std::vector<gid_t> groups = GroupsOf(account->pw_name, account->pw_gid);
               std::ranges::find(groups, status.st_gid) != groups.end()) {
        bits >>= 3;
    }
    access.readWrite = account->pw_uid == 0 || (bits & 06) == 06;
    return access;
}

std::vector<InterfaceAccess> ExamineInterfaces(std::uint16_t vendorId, std::uint8_t inputReportId) {
    std::vector<InterfaceAccess> examined;
    for (const HidInterface& interface : linux_hid::VendorInterfaces(vendorId)) {
        InterfaceAccess& access = examined.emplace_back();
        access.transport = linux_hid::ChooseTransport(interface);
        access.node = linux_hid::NodeOf(interface, access.transport);
        access.usbInterface =
            interface.usbInterfacePath.substr(interface.usbInterfacePath.rfind('/') + 1);
        access.usbNode = interface.usbNode;
        access.productId = interface.productId;
        access.locationPath = interface.locationPath;
        access.interruptOut = interface.interruptOut;
        if (DriverProblem(interface, access)) {
            continue;
        }
        if (access.transport == Transport::kHidraw) {
            ExamineHidraw(interface, inputReportId, access);
        } else if (const int error = linux_hid::AccessError(interface, Transport::kUsb);
                   error != 0) {
            Unopened(access, error);
        }
    }
    return examined;
}

bool SomeInterfaceUnopened(std::uint16_t vendorId) {
    for (const HidInterface& interface : linux_hid::VendorInterfaces(vendorId)) {
        if (linux_hid::AccessError(interface, linux_hid::ChooseTransport(interface)) != 0) {
            return true;
        }
    }
    return false;
}

}  // namespace torvane
