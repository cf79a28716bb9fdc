#include "cli/doctor_command.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_options.h"
#include "cli/device_commands.h"
#include "cli/json_text.h"
#include "platform/linux/interface_access.h"
#include "protocol/family.h"

namespace torvane::cli {
namespace {

std::string Hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

std::string TransportText(const linux_hid::HidInterface& interface,
                          linux_hid::Transport transport) {
    if (transport == linux_hid::Transport::kHidraw) {
        return interface.interruptOut ? "hidraw (--transport=hidraw)" : "hidraw";
    }
    return interface.interruptOut ? "usb (interrupt OUT endpoint)" : "usb (--transport=usb)";
}

}  // namespace

int RunDoctor(std::ostream& out, bool json) {
    // An interface given back is examined as the driver has it now.
    const std::vector<linux_hid::GivenBack> given =
        linux_hid::GiveBackDriverless(family::kVendorId);
    const std::vector<linux_hid::HidInterface> interfaces =
        linux_hid::VendorInterfaces(family::kVendorId);
    bool allUsable = !interfaces.empty();
    for (const linux_hid::HidInterface& interface : interfaces) {
        const linux_hid::Transport transport = linux_hid::ChooseTransport(interface);
        const bool usb = transport == linux_hid::Transport::kUsb;
        linux_hid::AccessFinding finding =
            linux_hid::ExamineInterface(interface, transport, family::kInputReportId);
        const auto givenBack = std::ranges::find(
            given, interface.usbInterfacePath,
            [](const linux_hid::GivenBack& each) { return each.interface.usbInterfacePath; });
        if (!interface.usbInterfacePath.empty() && givenBack != given.end()) {
            finding = linux_hid::GiveBackFinding(*givenBack, finding);
        }
        const std::string& node = linux_hid::NodeOf(interface, transport);
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
        out << node << "  product " << Hex4(interface.productId) << "  "
            << LocationText(interface.locationPath) << "  " << TransportText(interface, transport)
            << "  " << finding.status << '\n';
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
    for (const linux_hid::HidInterface& interface :
         linux_hid::VendorInterfaces(family::kVendorId)) {
        const linux_hid::Transport transport = linux_hid::ChooseTransport(interface);
        if (linux_hid::OpenError(linux_hid::NodeOf(interface, transport)) != 0) {
            return "a device of the family was found but could not be opened: run torvane-cli "
                   "doctor";
        }
    }
    return std::nullopt;
}

}  // namespace torvane::cli
