#include "cli/doctor_command.h"

#include <sys/utsname.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_options.h"
#include "platform/device_interfaces.h"
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

// Opens the node as the engine does, reads its capabilities and asks for an input report.
Finding Examine(const hidraw::Node& node) {
    DeviceInterfaces& interfaces = SystemDeviceInterfaces();
    SystemError error;
    const DeviceHandle handle = interfaces.Open(node.devnode, error);
    if (!handle) {
        if (error.code == EACCES || error.code == EPERM) {
            return {false, "access denied", kRuleHint};
        }
        return {false,
                std::string("cannot be opened: ") + std::strerror(static_cast<int>(error.code)),
                ""};
    }
    Finding finding{true, "ok", ""};
    int capsError = 0;
    const int fd = hidraw::ToNode(handle).fd;
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
    interfaces.Close(handle, error);
    return finding;
}

std::vector<hidraw::Node> FamilyNodes() {
    std::vector<hidraw::Node> nodes = hidraw::ListNodes();
    std::erase_if(nodes,
                  [](const hidraw::Node& node) { return node.vendorId != family::kVendorId; });
    return nodes;
}

}  // namespace

int RunDoctor(std::ostream& out, bool json) {
    const std::vector<hidraw::Node> nodes = FamilyNodes();
    bool allUsable = !nodes.empty();
    for (const hidraw::Node& node : nodes) {
        const Finding finding = Examine(node);
        allUsable = allUsable && finding.usable;
        if (json) {
            out << nlohmann::json{{"event", "node"},
                                  {"node", node.devnode},
                                  {"productId", Hex4(node.productId)},
                                  {"location", node.locationPath},
                                  {"usable", finding.usable},
                                  {"status", finding.status},
                                  {"advice", finding.advice}}
                       .dump()
                << '\n';
            continue;
        }
        out << node.devnode << "  product " << Hex4(node.productId) << "  " << node.locationPath
            << "  " << finding.status << '\n';
        if (!finding.advice.empty()) {
            out << "  " << finding.advice << '\n';
        }
    }
    if (nodes.empty()) {
        const std::string text =
            "no hidraw node of vendor " + Hex4(family::kVendorId) + ": is a device plugged in?";
        out << (json ? nlohmann::json{{"event", "none"}, {"text", text}}.dump() : text) << '\n';
    }
    return allUsable ? kExitOk : kExitFailed;
}

std::optional<std::string> DoctorHint() {
    for (const hidraw::Node& node : FamilyNodes()) {
        SystemError error;
        const DeviceHandle handle = SystemDeviceInterfaces().Open(node.devnode, error);
        if (!handle) {
            return "a device of the family was found but could not be opened: run torvane-cli "
                   "doctor";
        }
        SystemDeviceInterfaces().Close(handle, error);
    }
    return std::nullopt;
}

}  // namespace torvane::cli
