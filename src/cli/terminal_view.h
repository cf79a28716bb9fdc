// The engine's view on a terminal: the device list in memory, status texts as lines (a progress
// bar on a terminal, with the time left once the write rate is steady), message-box texts on
// standard error, or one JSON object per event.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "app/torvane_dlg.h"
#include "cli/time_left.h"
#include "platform/clock.h"

namespace torvane::cli {

class TerminalView final : public TorvaneView {
public:
    // clock times the progress texts for the time left.
    TerminalView(std::ostream& out, std::ostream& err, bool progressBar, bool json, Clock& clock);

    void Attach(CTorvaneDlg& dialog) { dialog_ = &dialog; }
    void SetFirmwareFile(std::string path) { file_ = std::move(path); }

    void ResetDevices() override;
    void AddDevice(const std::string& text) override { entries_.push_back(text); }
    int DeviceCount() override { return static_cast<int>(entries_.size()); }
    int Selection() override { return selection_; }
    void Select(int index) override;
    std::string DeviceText(int index) override;
    void ShowTexts(const std::string& pathStatusText, const std::string& versionText) override;
    // A terminal has no buttons to grey out or focus.
    void Enable(Control, bool) override {}
    void Focus(Control) override {}
    std::optional<std::string> ChooseFirmwareFile() override { return file_; }
    // The caller's thread stands in for the user interface thread, which waits for the worker.
    void SendUpdateNotify(UpdateNotice notice) override { dialog_->OnUpdateNotify(notice); }
    void ShowMessage(const std::string& text, const std::string& caption = {}) override;

    // Writes a line of text, or the JSON event with its fields, to standard output.
    void Emit(const std::string& text, const std::string& jsonEvent);
    // Writes a line to standard error only, with --json as well: a remark, not an event.
    void Remark(const std::string& text);

private:
    void EndProgressLine();

    std::ostream& out_;
    std::ostream& err_;
    bool progressBar_;
    bool json_;
    Clock& clock_;
    CTorvaneDlg* dialog_ = nullptr;
    std::optional<std::string> file_;
    std::vector<std::string> entries_;
    int selection_ = -1;
    std::string shownStatus_;
    bool progressLineOpen_ = false;
    std::size_t progressLineWidth_ = 0;  // of the open progress line
    TimeLeft timeLeft_;
};

}  // namespace torvane::cli
