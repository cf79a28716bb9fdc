#include "cli/doctor_command.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_options.h"
#include "cli/device_commands.h"
#include "cli/json_text.h"
#include "platform/device_access.h"
#include "protocol/family.h"
#include "system/access_findings.h"

namespace torvane::cli {
namespace {

// The user the Debian package's station service runs as (torvane-station.service), in the group
// that the udev rule gives the nodes to.
constexpr const char* kServiceUser = "torvane";

std::string Hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

std::string TransportText(const InterfaceAccess& access) {
    if (access.transport == Transport::kHidraw) {
        return access.interruptOut ? "hidraw (--transport=hidraw)" : "hidraw";
    }
    return access.interruptOut ? "usb (interrupt OUT endpoint)" : "usb (--transport=usb)";
}

std::string Octal4(unsigned mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", mode);
    return text;
}

// Whether the station service's user may open the node, where the system has that user.
std::string ServiceUserText(const UserNodeAccess& access) {
    const std::string node = "(group " + access.group + ", mode " + Octal4(access.mode) + ")";
    return std::string("station service (user ") + kServiceUser + "): " +
           (access.readWrite ? "can open it " + node
                             : "cannot open it " + node + ": the udev rule gives it to group " +
                                   kServiceUser + ", mode 0660; plug the device in again");
}

}  // namespace

int RunDoctor(std::ostream& out, bool json) {
    // An interface given back is examined as the driver has it now.
    const std::vector<GivenBack> given = GiveBackDriverless(family::kVendorId, family::kProductIds);
    const std::vector<InterfaceAccess> interfaces =
        ExamineInterfaces(family::kVendorId, family::kInputReportId);
    bool allUsable = !interfaces.empty();
    for (const InterfaceAccess& access : interfaces) {
        AccessFinding finding = DescribeAccess(access);
        const auto givenBack =
            std::ranges::find(given, access.usbInterface, &GivenBack::usbInterface);
        if (!access.usbInterface.empty() && givenBack != given.end()) {
            finding = GivenBackFinding(*givenBack, finding);
        }
        allUsable = allUsable && finding.usable;
        const std::optional<UserNodeAccess> service = ExamineUserAccess(kServiceUser, access.node);
        if (json) {
            nlohmann::json event{
                {"event", "node"},
                {"node", access.node},
                {"productId", Hex4(access.productId)},
                {"location", access.locationPath},
                {"transport", access.transport == Transport::kUsb ? "usb" : "hidraw"},
                {"usable", finding.usable},
                {"status", finding.status},
                {"advice", finding.advice}};
            if (service) {
                event["serviceUser"] = {{"user", kServiceUser},
                                        {"canOpen", service->readWrite},
                                        {"group", service->group},
                                        {"mode", Octal4(service->mode)}};
            }
            out << JsonText(event) << '\n';
            continue;
        }
        out << access.node << "  product " << Hex4(access.productId) << "  "
            << LocationText(access.locationPath) << "  " << TransportText(access) << "  "
            << finding.status << '\n';
        if (!finding.advice.empty()) {
            out << "  " << finding.advice << '\n';
        }
        if (service) {
            out << "  " << ServiceUserText(*service) << '\n';
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
    if (SomeInterfaceUnopened(family::kVendorId)) {
        return "a device of the family was found but could not be opened: run torvane-cli doctor";
    }
    return std::nullopt;
}

}  // namespace torvane::cli
