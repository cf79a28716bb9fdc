// The main window: the Windows program's main dialog in Qt Widgets, as the view of the engine's
// CTorvaneDlg.
#pragma once

#include <QDialog>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "app/session_reports.h"
#include "app/torvane_dlg.h"
#include "platform/device_arrivals.h"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace torvane::qt {

class MainWindow final : public QDialog, public TorvaneView {
public:
    // Asks the user for a file (the firmware file to open, the report log's file to save);
    // nullopt when cancelled.
    using FileChooser = std::function<std::optional<std::string>()>;
    // Why a device of the family cannot be used and how to fix it; nullopt when nothing is wrong.
    using AccessHint = std::function<std::optional<std::string>()>;

    MainWindow(DeviceInterfaces& interfaces, HidClass& hid, Clock& clock, DeviceLocks& locks);

    CTorvaneDlg& engine() { return engine_; }
    // Replaces the file-open dialog (for scripted runs of the window).
    void SetFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }
    // Replaces the save dialog of the report log.
    void SetLogFileChooser(FileChooser chooser) { logChooser_ = std::move(chooser); }
    // Shown in the status line while it is empty and the list has no device.
    void SetAccessHint(AccessHint hint) { hint_ = std::move(hint); }
    // The engine's first scan and read, before the window is shown.
    void OnInitDialog();
    // Opens the About box (from the window's context menu).
    void ShowAbout();
    // The session's reports, kept by the caller for the window's life: the engine tells them
    // of each update, the status line's tooltip says why the last one did not pass, and the
    // context menu gets the entry after About that saves the log or says where it goes. Once,
    // before the first click.
    void SetSessionReports(SessionReports& reports);
    // Follows the plug: each word of arrivals rescans the list, keeping the selection on the
    // device at the same location; not while an update runs, whose closing sequence scans. A
    // thread of the window waits for the word until the window goes. Once at the most.
    void FollowArrivals(std::unique_ptr<DeviceArrivals> arrivals);

    // The view, on the widgets. A call from the update worker runs on the user interface thread
    // while the worker waits, as a sent message does on Windows.
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

protected:
    // Escape, the close box and Enter without a default button end here: never under a running
    // update.
    void done(int result) override;

private:
    // Runs call on the user interface thread and returns its result.
    template <typename Call>
    auto OnUiThread(Call call);
    QWidget* Widget(Control control);
    std::optional<std::string> OpenFileDialog();
    std::optional<std::string> SaveFileDialog();
    // The context menu's entry: saves the report log kept in memory to a file the user picks, or
    // says where the log goes.
    void SaveReportLog();
    // The tooltip of the status line: why the last update did not pass.
    void ShowCause();
    // Word from the watcher, on the user interface thread.
    void OnDevicesChanged();
    // Runs an engine handler; word of a plug that comes meanwhile is followed once it returns.
    template <typename Handler>
    void InHandler(Handler handler);

    QComboBox* devices_;
    QLabel* version_;
    QPushButton* scan_;
    QPushButton* update_;
    QLineEdit* pathStatus_;
    CTorvaneDlg engine_;
    FileChooser chooser_;
    FileChooser logChooser_;
    AccessHint hint_;
    // The hint for the current scan, worked out once per scan.
    std::optional<std::optional<std::string>> scanHint_;
    SessionReports* reports_ = nullptr;
    // Handlers of the engine running on the user interface thread, one inside another when a
    // dialog or message box of one runs the event loop (the Update click's file dialog, a
    // message from an open). Word of a plug waits until the outermost returns: a handler must
    // find the list and the selection as it left them, not a table that a rescan replaced.
    int handlerDepth_ = 0;
    bool changeWaits_ = false;
    // Waits for the word of arrivals; stopped and joined first when the window goes.
    std::jthread watcher_;
};

}  // namespace torvane::qt
