#include "cli/update_many.h"

#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

#include "cli/device_board.h"
#include "cli/device_update.h"
#include "cli/json_text.h"
#include "discovery/device_reading.h"
#include "discovery/device_scan.h"
#include "firmware/hex_image.h"
#include "protocol/family.h"
#include "protocol/report_log.h"
#include "update/status_text.h"
#include "usb/text_error.h"

namespace torvane::cli {
namespace {

// Messages from the scan before any device has its row.
class ErrMessages final : public MessageSink {
public:
    explicit ErrMessages(std::ostream& err) : err_(err) {}
    void ShowMessage(const std::string& text, const std::string& = {}) override {
        err_ << text << (text.empty() || text.back() != '\n' ? "\n" : "");
    }

private:
    std::ostream& err_;
};

// The entries to update, or the exit status and its message when they cannot be.
std::optional<int> Select(const CliOptions& options, const DeviceTable& table,
                          std::vector<int>& selection, std::ostream& err) {
    if (options.all) {
        for (std::size_t i = 0; i < table.size(); ++i) {
            selection.push_back(static_cast<int>(i));
        }
        if (selection.empty()) {
            err << "torvane-cli: no family device is listed\n";
            return kExitFailed;
        }
    } else {
        selection = options.devices;
    }
    for (const int n : selection) {
        if (n >= static_cast<int>(table.size())) {
            err << "torvane-cli: no device " << n << " (" << table.size() << " listed)\n";
            return kExitFailed;
        }
    }
    if (const std::optional<std::string> reason = WhyNotAtOnce(table, selection)) {
        err << "torvane-cli: " << *reason << '\n';
        return kExitUsage;
    }
    return std::nullopt;
}

// The rule set an image was loaded under: boot loader, or application with its identity.
using ImageKey = std::pair<bool, std::array<std::uint8_t, 8>>;

struct LoadedImage {
    bool ok = false;
    ImageTable image;
    HexLoadError error;
    std::uint32_t start = 0;
    std::string status;
};

// Loads the file for each target, once per rule set: boot loaders share one load, applications
// one per identity. False when the file cannot be read at all.
bool LoadImages(std::vector<DeviceUpdate*>& targets, const std::string& path, Clock& clock,
                std::map<ImageKey, LoadedImage>& images) {
    const ImageFile file = OpenImageFile(path);
    if (!file) {
        for (DeviceUpdate* target : targets) {
            target->result = "FW File Load error!";
            target->observer->OnStatus(target->result, -1);
        }
        return false;
    }
    for (DeviceUpdate* target : targets) {
        // A boot loader checks no identity.
        const ImageKey key{target->bootMode != 0, target->bootMode != 0
                                                      ? std::array<std::uint8_t, 8>{}
                                                      : target->identity};
        const auto [found, added] = images.try_emplace(key);
        LoadedImage& loaded = found->second;
        if (added) {
            std::rewind(file.get());
            loaded.start = clock.TickCount();
            const LoadRules rules{target->bootMode, target->identity};
            loaded.ok = LoadHexImage(file.get(), rules, loaded.image, &loaded.error);
            loaded.status =
                loaded.ok ? ParsedStatus(loaded.start, clock.TickCount()) : "File Parse error!";
        }
        target->observer->OnStatus(loaded.status, -1);
        if (!loaded.ok) {
            target->result = loaded.status;
            target->observer->ShowMessage(path + ": " + loaded.error.Describe());
            continue;
        }
        target->image = &loaded.image;
        target->start = loaded.start;
    }
    return true;
}

void PrintTable(const std::vector<DeviceUpdate>& targets, std::ostream& out) {
    std::vector<std::array<std::string, 5>> lines{{"#", "location", "model", "result", "version"}};
    for (const DeviceUpdate& target : targets) {
        lines.push_back({std::to_string(target.index), target.entry.location, target.entry.text,
                         target.result, target.version.empty() ? "-" : target.version});
    }
    std::array<std::size_t, 5> widths{};
    for (const auto& line : lines) {
        for (std::size_t column = 0; column < widths.size(); ++column) {
            widths[column] = std::max(widths[column], line[column].size());
        }
    }
    for (const auto& line : lines) {
        std::string text;
        for (std::size_t column = 0; column < widths.size(); ++column) {
            text += line[column];
            if (column + 1 < widths.size()) {
                text += std::string(widths[column] - line[column].size() + 2, ' ');
            }
        }
        while (!text.empty() && text.back() == ' ') {
            text.pop_back();
        }
        out << text << '\n';
    }
}

}  // namespace

std::optional<std::string> WhyNotAtOnce(const DeviceTable& table,
                                        const std::vector<int>& selection) {
    if (selection.size() < 2) {
        return std::nullopt;
    }
    // After the switch each device is found again by its port alone.
    for (std::size_t i = 0; i < selection.size(); ++i) {
        const ListedDevice& entry = table.at(static_cast<std::size_t>(selection[i]));
        if (entry.location.empty()) {
            return "device " + std::to_string(selection[i]) +
                   " has no location path: after the switch to its boot loader it could not be "
                   "told from the others; update it alone";
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (table.at(static_cast<std::size_t>(selection[j])).location == entry.location) {
                return "devices " + std::to_string(selection[j]) + " and " +
                       std::to_string(selection[i]) + " share the location path " + entry.location +
                       ": they could not be told apart after the switch; update them one at a "
                       "time";
            }
        }
    }
    return std::nullopt;
}

int RunUpdateMany(DeviceSystem& system, const CliOptions& options, std::ostream& out,
                  std::ostream& err, bool terminal) {
    ErrMessages scanMessages(err);
    const DeviceTable table = ScanDevices(system.interfaces(), system.deviceHid(), scanMessages);
    std::vector<int> selection;
    if (const std::optional<int> status = Select(options, table, selection, err)) {
        return *status;
    }

    DeviceBoard board(out, err, terminal, options.json);
    // Every target is in place before any thread starts: runs keep references to them.
    std::vector<DeviceUpdate> targets(selection.size());
    for (std::size_t i = 0; i < selection.size(); ++i) {
        DeviceUpdate& target = targets[i];
        target.index = selection[i];
        target.entry = table[static_cast<std::size_t>(target.index)];
        if (!PrepareDeviceUpdate(target, system, board, options.reportLog, err)) {
            return kExitFailed;
        }
    }

    std::vector<DeviceUpdate*> readable;
    for (DeviceUpdate& target : targets) {
        if (ReadDevice(target, system)) {
            readable.push_back(&target);
        }
    }
    std::map<ImageKey, LoadedImage> images;
    LoadImages(readable, options.file, system.clock(), images);
    {
        std::vector<std::jthread> runs;
        for (DeviceUpdate* target : readable) {
            if (target->image != nullptr) {
                runs.emplace_back([target, &system] { RunDeviceUpdate(*target, system); });
            }
        }
    }
    board.Finish();
    std::vector<DeviceUpdate*> all;
    for (DeviceUpdate& target : targets) {
        all.push_back(&target);
    }
    ReadNewVersions(all, system, scanMessages);

    bool allOk = true;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const DeviceUpdate& target = targets[i];
        allOk = allOk && target.ok;
        if (options.json) {
            out << board.Event(i, {{"event", "result"},
                                   {"model", target.entry.text},
                                   {"ok", target.ok},
                                   {"status", target.result},
                                   {"version", target.version}})
                << '\n';
        }
    }
    if (!options.json) {
        PrintTable(targets, out);
    }
    out.flush();
    return allOk ? kExitOk : kExitFailed;
}

}  // namespace torvane::cli
