#include "cli/device_commands.h"

#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_options.h"
#include "cli/json_text.h"
#include "protocol/fixed_texts.h"

namespace torvane::cli {
namespace {

// A device's read for list, on its own thread: its messages wait to be told in list order.
struct ListRead final : public MessageSink {
    void ShowMessage(const std::string& text, const std::string& caption = {}) override {
        messages.emplace_back(text, caption);
    }

    std::vector<std::pair<std::string, std::string>> messages;
    std::string busy;
    FirmwareReading reading;
};

// Reads entry's version as a selection does, on a session of its own, under the device's lock.
void ReadForList(const ListedDevice& entry, DeviceSystem& system, ListRead& read) {
    const DeviceHold hold = HoldDevice(entry, system.locks());
    read.busy = hold.busy;
    if (!read.busy.empty()) {
        return;
    }
    DeviceSession session(system.hid(), system.clock(), read);
    if (const std::unique_ptr<CUsbDevice> device =
            OpenListedDevice(entry, system.interfaces(), system.hid(), read, {}, session)) {
        read.reading = ReadFirmwareVersion(session);
    } else {
        read.ShowMessage(texts::kHandleFailed);
    }
}

// Reads list entry n as a selection change would; false when there is no such entry.
bool ReadEntry(CTorvaneDlg& dialog, TerminalView& view, int n) {
    if (n < 0 || n >= view.DeviceCount()) {
        return false;
    }
    view.Select(n);
    dialog.OnCbnSelchangeDevices();
    return true;
}

// The selected entry's version as list and version show it: "no answer" (null in JSON) for a
// device that did not answer its version query.
std::string ShownVersion(const CTorvaneDlg& dialog) {
    return dialog.selectionReading.version ? dialog.versionText : "no answer";
}

nlohmann::json JsonShownVersion(const CTorvaneDlg& dialog) {
    return dialog.selectionReading.version ? nlohmann::json(dialog.versionText) : nlohmann::json();
}

bool NoSuchEntry(TerminalView& view, int device) {
    view.ShowMessage("torvane-cli: no device " + std::to_string(device) + " (" +
                     std::to_string(view.DeviceCount()) + " listed)");
    return false;
}

}  // namespace

int RunList(CTorvaneDlg& dialog, TerminalView& view, DeviceSystem& system) {
    std::vector<ListRead> reads(dialog.listed.size());
    // The first entry was read as the window's first selection when it opened, its messages
    // told then: it is not read again.
    const bool readAtOpen = !reads.empty() && view.Selection() == 0 && dialog.deviceSupported != 0;
    if (readAtOpen) {
        reads[0].reading = dialog.selectionReading;
        reads[0].busy = dialog.selectionBusy;
    }
    {
        std::vector<std::jthread> threads;
        for (std::size_t i = readAtOpen ? 1 : 0; i < reads.size(); ++i) {
            threads.emplace_back([&, i] { ReadForList(dialog.listed[i], system, reads[i]); });
            // One report log keeps one device's reports together.
            if (system.log() != nullptr) {
                threads.back().join();
            }
        }
    }
    for (std::size_t i = 0; i < reads.size(); ++i) {
        const ListRead& read = reads[i];
        for (const auto& [text, caption] : read.messages) {
            view.ShowMessage(text, caption);
        }
        const ListedDevice& entry = dialog.listed[i];
        const std::optional<FirmwareVersion>& version = read.reading.version;
        nlohmann::json event{
            {"event", "device"},
            {"index", i},
            {"text", entry.text},
            {"location", entry.location},
            {"serial", JsonSerial(entry.serial)},
            {"version", version ? nlohmann::json(read.reading.versionText) : nlohmann::json()}};
        if (!read.busy.empty()) {
            event["busy"] = read.busy;
        }
        view.Emit(std::to_string(i) + "  " + entry.text + "  " + LocationText(entry.location) +
                      "  " + SerialCell(entry.serial) + "  " +
                      (!read.busy.empty() ? read.busy
                       : version          ? read.reading.versionText
                                          : "no answer"),
                  JsonText(event));
    }
    if (view.DeviceCount() == 0) {
        view.Remark("torvane-cli: no family device found");
    }
    return kExitOk;
}

int RunVersion(CTorvaneDlg& dialog, TerminalView& view, int device) {
    if (!ReadEntry(dialog, view, device)) {
        NoSuchEntry(view, device);
        return kExitFailed;
    }
    if (!dialog.selectionBusy.empty()) {
        view.ShowMessage(dialog.selectionBusy);
        return kExitFailed;
    }
    view.Emit(
        ShownVersion(dialog),
        JsonText(nlohmann::json{
            {"event", "version"}, {"device", device}, {"version", JsonShownVersion(dialog)}}));
    return kExitOk;
}

int RunUpdate(CTorvaneDlg& dialog, TerminalView& view, const std::string& file, int device) {
    if (!ReadEntry(dialog, view, device)) {
        NoSuchEntry(view, device);
        return kExitFailed;
    }
    view.SetFirmwareFile(file);
    dialog.OnBnClickedUpdate();
    dialog.WaitForWorker();
    // The dialog keeps an outcome for every click: a job's, or why none was started.
    const UpdateOutcome outcome = dialog.lastOutcome.value_or(UpdateOutcome{});
    const bool ok = outcome.Passed();
    const std::string version = outcome.after ? outcome.after->Text() : "-";
    std::string text;
    if (!ok) {
        // A device that was written but did not come back verified ended on a success text.
        text = "update failed: " +
               (outcome.stage == JobStage::kVerifying ? "the image was written, but not verified"
                                                      : outcome.status) +
               "\n" + (outcome.cause.empty() ? "" : outcome.cause + "\n");
    }
    view.Emit(text + "version: " + version,
              JsonText(nlohmann::json{{"event", "result"},
                                      {"ok", ok},
                                      {"result", ResultText(outcome.result)},
                                      {"stage", StageText(outcome.stage)},
                                      {"status", outcome.status},
                                      {"cause", outcome.cause},
                                      {"version", JsonVersion(outcome.after)}}));
    return ok ? kExitOk : kExitFailed;
}

}  // namespace torvane::cli
