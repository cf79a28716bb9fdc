// A view that keeps what the engine shows it and hands notifications straight to the dialog.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/torvane_dlg.h"

namespace torvane::test {

class FakeView final : public TorvaneView {
public:
    void ResetDevices() override {
        entries.clear();
        selection = -1;
    }
    void AddDevice(const std::string& text) override { entries.push_back(text); }
    int DeviceCount() override { return static_cast<int>(entries.size()); }
    int Selection() override { return selection; }
    void Select(int index) override {
        selection = index >= 0 && index < DeviceCount() ? index : -1;
    }
    std::string DeviceText(int index) override {
        return entries.at(static_cast<std::size_t>(index));
    }

    void ShowTexts(const std::string& pathStatus, const std::string& version) override {
        if (statuses.empty() || statuses.back() != pathStatus) {
            statuses.push_back(pathStatus);
        }
        shownVersion = version;
    }
    void Enable(Control control, bool enabled) override { this->enabled[control] = enabled; }
    void Focus(Control control) override { focused = control; }
    std::optional<std::string> ChooseFirmwareFile() override { return file; }
    void SendUpdateNotify(UpdateNotice notice) override { dialog->OnUpdateNotify(notice); }
    void ShowMessage(const std::string& text, const std::string& = {}) override {
        messages.push_back(text);
    }
    // The engine asks for it at every open of a device.
    WindowHandle MainWindow() override {
        if (onOpen) {
            onOpen();
        }
        return {};
    }

    CTorvaneDlg* dialog = nullptr;
    std::vector<std::string> entries;
    int selection = -1;
    std::vector<std::string> statuses;  // each text shown, consecutive repeats once
    std::string shownVersion;
    std::vector<std::string> messages;
    std::map<Control, bool> enabled;
    Control focused = Control::DeviceList;
    std::optional<std::string> file;
    // Called as the engine opens a device, on the thread that opens it.
    std::function<void()> onOpen;
};

}  // namespace torvane::test
