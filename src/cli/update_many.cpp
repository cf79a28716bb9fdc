#include "cli/update_many.h"

#include <array>
#include <optional>
#include <thread>

#include "cli/device_board.h"
#include "cli/device_update.h"
#include "cli/json_text.h"
#include "discovery/device_scan.h"

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

void PrintTable(const std::vector<DeviceUpdate>& targets, std::ostream& out) {
    std::vector<std::array<std::string, 7>> lines{
        {"#", "location", "model", "serial", "result", "version", "status"}};
    for (const DeviceUpdate& target : targets) {
        lines.push_back({std::to_string(target.index), target.entry.location, target.entry.text,
                         SerialCell(target.entry.serial), ResultText(target.outcome.result),
                         VersionCell(target.outcome.after), target.outcome.status});
    }
    std::array<std::size_t, 7> widths{};
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
    for (const DeviceUpdate& target : targets) {
        if (!target.outcome.cause.empty()) {
            out << target.index << ": " << target.outcome.cause << '\n';
        }
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

int RunUpdateMany(DeviceSystem& system, const CliOptions& options, std::stop_token stop,
                  std::ostream& out, std::ostream& err, bool terminal) {
    ErrMessages scanMessages(err);
    const DeviceTable table = ScanDevices(system.interfaces(), system.deviceHid(), scanMessages);
    std::vector<int> selection;
    if (const std::optional<int> status = Select(options, table, selection, err)) {
        return *status;
    }

    DeviceBoard board(out, err, terminal, options.json, system.clock());
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

    {
        std::vector<std::jthread> runs;
        for (DeviceUpdate& target : targets) {
            runs.emplace_back([&target, &system, &options, stop] {
                RunDeviceUpdate(target, system, options.file, {.returnWindowMs = kReturnWindowMs},
                                stop);
            });
        }
    }
    board.Finish();
    for (const DeviceUpdate& target : targets) {
        TellIncompleteLog(target.log.get(), target.logPath, err);
    }

    bool allOk = true;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const DeviceUpdate& target = targets[i];
        const UpdateOutcome& outcome = target.outcome;
        allOk = allOk && outcome.Passed();
        if (options.json) {
            out << board.Event(i, {{"event", "result"},
                                   {"model", target.entry.text},
                                   {"ok", outcome.Passed()},
                                   {"result", ResultText(outcome.result)},
                                   {"stage", StageText(outcome.stage)},
                                   {"status", outcome.status},
                                   {"cause", outcome.cause},
                                   {"version", JsonVersion(outcome.after)}})
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
