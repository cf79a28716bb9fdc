#include "system/access_findings.h"

#include <cstring>
#include <vector>

#include "platform/device_lock.h"

namespace torvane {
namespace {

constexpr const char* kRuleHint =
    "install the udev rule: cmake --install build/linux-release --prefix /usr (or copy "
    "70-torvane.rules to "
    "/etc/udev/rules.d), then run: udevadm control --reload && udevadm trigger; unplug and "
    "plug the device in again";

constexpr const char* kKilledHolder = "no driver: left by a program that was killed";
constexpr const char* kSettingUp = "no driver yet: still being set up";

std::string GiveItBack(const std::string& usbInterface) {
    return "give it back: echo " + usbInterface +
           " | sudo tee /sys/bus/usb/drivers_probe (or unplug the device and plug it in again)";
}

// The processes that may hold the claim: of several, the system does not tell which one does.
std::string Busy(const std::vector<int>& holders) {
    std::string status = "busy: held by another program";
    for (std::size_t i = 0; i < holders.size(); ++i) {
        status += (i == 0 ? (holders.size() == 1 ? " (process " : " (processes ") : ", ") +
                  std::to_string(holders[i]);
    }
    return holders.empty() ? status : status + ")";
}

}  // namespace

AccessFinding DescribeAccess(const InterfaceAccess& access) {
    switch (access.problem) {
        case AccessProblem::kNone:
            return {true, "ok", ""};
        case AccessProblem::kBusy:
            return {false, Busy(access.holders), ""};
        case AccessProblem::kLocked:
            return {false, BusyText(access.holders.empty() ? 0 : access.holders[0]),
                    "try again once it is done"};
        case AccessProblem::kDriverless:
            return {false, kKilledHolder, GiveItBack(access.usbInterface)};
        case AccessProblem::kSettingUp:
            return {false, kSettingUp, ""};
        case AccessProblem::kNoHidrawNode:
            return {false, "no hidraw node: the interface is detached from the HID driver",
                    "another program may hold it; or run with --transport=usb"};
        case AccessProblem::kDenied:
            return {false, "access denied",
                    access.transport == Transport::kUsb
                        ? std::string("the USB device node needs the rule as well: ") + kRuleHint
                        : kRuleHint};
        case AccessProblem::kUnopened:
            return {false, std::string("cannot be opened: ") + std::strerror(access.error), ""};
        case AccessProblem::kUnreadableCaps:
            return {false,
                    std::string("report descriptor unreadable: ") + std::strerror(access.error),
                    ""};
        case AccessProblem::kNoReportIoctls:
            return {false, "kernel too old for the report ioctls",
                    "Linux " + access.neededRelease + " or newer is needed; this is " +
                        access.runningRelease};
    }
    return {};
}

AccessFinding GivenBackFinding(const GivenBack& given, const AccessFinding& examined) {
    // Left to the kernel: what examining it found is all there is to say.
    if (given.settingUp) {
        return examined;
    }
    if (given.error != 0) {
        return {false, std::string(kKilledHolder) + " (" + std::strerror(given.error) + ")",
                GiveItBack(given.usbInterface)};
    }
    return {examined.usable,
            std::string(kKilledHolder) + "; given back" +
                (examined.usable ? "" : ", but " + examined.status),
            examined.advice};
}

std::string GiveBackNote(const GivenBack& given) {
    const AccessFinding finding = given.settingUp ? AccessFinding{false, kSettingUp, ""}
                                                  : GivenBackFinding(given, {true, "ok", ""});
    return given.usbInterface + " (" + given.usbNode + "): " + finding.status +
           (finding.advice.empty() ? "" : ": " + finding.advice);
}

std::optional<std::string> UnusableInterfaceHint(std::uint16_t vendorId,
                                                 std::uint8_t inputReportId) {
    for (const InterfaceAccess& access : ExamineInterfaces(vendorId, inputReportId)) {
        const AccessFinding finding = DescribeAccess(access);
        if (!finding.usable) {
            std::string hint = "a device of the family was found but cannot be used (" +
                               access.node + ": " + finding.status + ")";
            return finding.advice.empty() ? hint : hint + ": " + finding.advice;
        }
    }
    return std::nullopt;
}

}  // namespace torvane
