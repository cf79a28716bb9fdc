#include "sim/device_list_grammar.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <span>
#include <utility>

#include "protocol/family.h"
#include "sim/device_keys.h"
#include "sim/replay_device.h"

namespace torvane::sim {
namespace {

// The application model that name names: its list text in lower case.
const family::Model* ModelNamed(std::string_view name) {
    const auto lowerCase = [](char listed, char named) {
        return std::tolower(static_cast<unsigned char>(listed)) == named;
    };
    for (const family::Model& model : family::kModels) {
        if (model.productId != family::kBootLoaderProductId &&
            std::ranges::equal(model.listText, name, lowerCase)) {
            return &model;
        }
    }
    return nullptr;
}

// replay:FILE, FILE running to the entry's end, so that a Windows path's drive keeps its ':'.
constexpr std::string_view kReplayPrefix = "replay:";

std::optional<FamilyDeviceConfig> ParseReplay(std::string_view file, int index,
                                              std::string& reason) {
    const std::string path(file);
    if (path.empty()) {
        reason = "replay: names no log file";
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        reason = "replay: cannot read '" + path + "': " + std::strerror(errno);
        return std::nullopt;
    }
    std::string error;
    std::optional<LoggedSession> session = ReadReportLog(in, error);
    if (!session) {
        reason = "replay: '" + path + "' " + error;
        return std::nullopt;
    }
    FamilyDeviceConfig config;
    config.locationPath = DefaultLocation(index + 1);
    config.replay = std::make_shared<const ReplaySource>(ReplaySource{path, std::move(*session)});
    return config;
}

std::optional<FamilyDeviceConfig> ParseDevice(std::string_view text, int index,
                                              std::string& reason) {
    if (text.empty()) {
        reason = "empty (two commas in a row, or one at an end)";
        return std::nullopt;
    }
    if (text.substr(0, kReplayPrefix.size()) == kReplayPrefix) {
        return ParseReplay(text.substr(kReplayPrefix.size()), index, reason);
    }
    const std::vector<std::string_view> parts = Split(text, ':');
    const family::Model* model = ModelNamed(parts[0]);
    if (model == nullptr) {
        reason = "unknown model '" + std::string(parts[0]) + "'; models are qmx-s, qmx-c, tzn";
        return std::nullopt;
    }
    FamilyDeviceConfig config =
        FamilyDeviceConfig::ForModel(model->productId, DefaultLocation(index + 1));
    config.serial = DefaultSerial(index);
    if (!ReadDeviceKeys(std::span(parts).subspan(1), index, config, reason)) {
        return std::nullopt;
    }
    return config;
}

// When a device is on the bus by its plug schedule: from its first plug-in (or the start) until
// its last pull-out (or for ever).
struct OnBus {
    std::uint32_t from = 0;
    std::uint32_t until = UINT32_MAX;

    explicit OnBus(const FamilyDeviceConfig& device) {
        const std::vector<std::uint32_t>&plugs = device.plugMs, &unplugs = device.unplugMs;
        if (!plugs.empty() && (unplugs.empty() || plugs.front() < unplugs.front())) {
            from = plugs.front();
        }
        if (!unplugs.empty() && (plugs.empty() || unplugs.back() > plugs.back())) {
            until = unplugs.back();
        }
    }
    bool Overlaps(const OnBus& other) const { return from < other.until && other.from < until; }
};

// The reason when two devices would show at one port at once, counting the ports that
// fail=otherport devices come back at; empty when they never do. Devices whose plug schedules
// follow each other may share a port, as boards put on one bench port one after the other.
std::string SharedPort(const std::vector<FamilyDeviceConfig>& devices) {
    struct Port {
        const std::string* path;
        std::size_t device;
        OnBus onBus;
    };
    std::vector<Port> ports;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const OnBus onBus(devices[i]);
        for (const std::string* path :
             {&devices[i].locationPath, &devices[i].faults.returnLocationPath}) {
            if (path->empty()) {
                continue;
            }
            // A device that comes back elsewhere is there from its start on.
            const OnBus here =
                path == &devices[i].locationPath ? onBus : OnBus(FamilyDeviceConfig{});
            for (const Port& port : ports) {
                if (*port.path == *path && port.onBus.Overlaps(here)) {
                    return "device " + std::to_string(i) + ": location '" + *path +
                           "' is also used by device " + std::to_string(port.device) +
                           " while both are plugged in";
                }
            }
            ports.push_back({path, i, here});
        }
    }
    return {};
}

}  // namespace

std::optional<std::vector<FamilyDeviceConfig>> ParseDeviceList(std::string_view text,
                                                               std::string& error) {
    if (text.empty()) {
        FamilyDeviceConfig device = FamilyDeviceConfig::ForModel(0x1F02, DefaultLocation(1));
        device.serial = DefaultSerial(0);
        return std::vector<FamilyDeviceConfig>{std::move(device)};
    }
    std::vector<FamilyDeviceConfig> devices;
    for (std::string_view device : Split(text, ',')) {
        const int index = static_cast<int>(devices.size());
        std::string reason;
        std::optional<FamilyDeviceConfig> config = ParseDevice(device, index, reason);
        if (!config) {
            error = "device " + std::to_string(index) + ": " + reason;
            return std::nullopt;
        }
        devices.push_back(std::move(*config));
    }
    if (std::string reason = SharedPort(devices); !reason.empty()) {
        error = std::move(reason);
        return std::nullopt;
    }
    return devices;
}

const char* DeviceListGrammar() {
    return "DEVICES = DEVICE[,DEVICE]...   devices count from 0 in this order\n"
           "DEVICE  = MODEL[:KEY]...       MODEL is qmx-s, qmx-c or tzn\n"
           "        | replay:FILE          a device that plays back a report log (--report-log),\n"
           "                               the program's reports checked against it; FILE runs\n"
           "                               to the next ',' or the end\n"
           "KEY     = version=A.B.C        application version, each 0-255 (default 3.1.0)\n"
           "        | identity=HEX         7 identity bytes as 14 hex digits\n"
           "        | boot                 starts in its boot loader\n"
           "        | bootversion=A.B.C    boot loader version, each 0-9 (default 1.0.2)\n"
           "        | location=TEXT        its port; up to 255 characters, no ',' or ':'; devices\n"
           "                               plugged in one after the other may share one\n"
           "        | fail=erase           the erase is never confirmed\n"
           "        | fail=echo@K          the echo of write K (from 0) is wrong\n"
           "        | fail=noreturn        the boot loader never appears\n"
           "        | fail=otherport       the boot loader appears at another port\n"
           "        | fail=unplug@K        the device is pulled during write K (from 0)\n"
           "        | fail=nolocation      the system gives it no location path\n"
           "        | fail=noversion       its boot loader answers no version query\n"
           "        | fail=norun           its boot loader ignores the run command\n"
           "        | fail=oldversion      after the run its application keeps its old version\n"
           "        | fail=denied@K        open K of its interface (from 0) is refused\n"
           "        | plug=TIME[/TIME]...  plugged in at these times (500ms, 2s, ...); off the\n"
           "                               bus before the first unless pulled out earlier\n"
           "        | unplug=TIME[/TIME]...  pulled out at these times; plug-ins and pull-outs\n"
           "                               take turns\n"
           "        | leave=TIME           its application stays this long after the switch\n"
           "                               command (default 0ms)\n"
           "        | restart=TIME         off the bus after the run command (default 1200ms)\n"
           "Device i sits at PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(i+1); without DEVICES the\n"
           "family is one qmx-c with version 3.1.0.\n";
}

}  // namespace torvane::sim
