// The main window: dialog 102 as the view of the engine's CTorvaneDlg.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <atomic>
#include <functional>

#include "app/torvane_dlg.h"
#include "win/dialog.h"

namespace torvane::win {

class MainDialog final : public Dialog, public TorvaneView {
public:
    // The file chooser asks the user for the firmware file; nullopt when cancelled.
    using FileChooser = std::function<std::optional<std::string>()>;

    MainDialog(HINSTANCE instance, DeviceInterfaces& interfaces, HidClass& hid, Clock& clock,
               DeviceLocks& locks);

    CTorvaneDlg& engine() { return engine_; }
    // Replaces the file-open dialog (for scripted runs of the window).
    void SetFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }
    // The session's report log, offered by a system menu entry after About; the cause of the
    // last update that did not pass is the status line's tooltip. Before the dialog runs.
    void SetSessionReports(SessionReports& reports);
    // Replaces the file-save dialog that asks where the report log goes.
    void SetLogFileChooser(FileChooser chooser) { logChooser_ = std::move(chooser); }
    // The status line's tooltip as the tooltip control holds it; on the user interface thread.
    std::string StatusTip();
    // The window once it is up; null before WM_INITDIALOG and after it has closed.
    HWND window() const { return window_.load(); }

    // The view, on the dialog's controls. Calls from the worker thread go to the controls as
    // sent messages, so the user interface thread carries them out.
    void ResetDevices() override;
    void AddDevice(const std::string& text) override;
    int DeviceCount() override;
    int Selection() override;
    void Select(int index) override;
    std::string DeviceText(int index) override;
    void ShowTexts(const std::string& pathStatusText, const std::string& versionText) override;
    void Enable(Control control, bool enabled) override;
    void Focus(Control control) override;
    std::optional<std::string> ChooseFirmwareFile() override;
    void SendUpdateNotify(UpdateNotice notice) override;
    void ShowMessage(const std::string& text, const std::string& caption = {}) override;
    WindowHandle MainWindow() override;

private:
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnInitDialog();
    bool OnPaint();
    std::optional<std::string> OpenFileDialog();
    std::optional<std::string> SaveFileDialog();
    // The system's file dialog: its path, which starts as name; nullopt when cancelled.
    std::optional<std::string> FileDialog(bool save, const char* filter, const char* extension,
                                          const char* name);
    // The tooltip control's tool that is the status line.
    TTTOOLINFOW StatusTool();
    void AddStatusTip();
    // Shows the cause of the last update that did not pass as the status line's tooltip.
    void RefreshStatusTip();
    void OnSaveReportLog();
    LRESULT SendToCombo(UINT message, WPARAM wParam, LPARAM lParam);

    HICON appIcon_;
    CTorvaneDlg engine_;
    FileChooser chooser_;
    FileChooser logChooser_;
    SessionReports* reports_ = nullptr;
    HWND statusTip_ = nullptr;
    std::string shownTip_;
    std::atomic<HWND> window_{nullptr};
};

}  // namespace torvane::win
