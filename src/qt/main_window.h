// The main window: the Windows program's main dialog in Qt Widgets, as the view of the engine's
// CTorvaneDlg.
#pragma once

#include <QDialog>

#include <functional>
#include <optional>
#include <string>

#include "app/torvane_dlg.h"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace torvane::qt {

class MainWindow final : public QDialog, public TorvaneView {
public:
    // Asks the user for the firmware file; nullopt when cancelled.
    using FileChooser = std::function<std::optional<std::string>()>;
    // Why a device of the family cannot be used and how to fix it; nullopt when nothing is wrong.
    using AccessHint = std::function<std::optional<std::string>()>;

    MainWindow(DeviceInterfaces& interfaces, HidClass& hid, Clock& clock, DeviceLocks& locks);

    CTorvaneDlg& engine() { return engine_; }
    // Replaces the file-open dialog (for scripted runs of the window).
    void SetFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }
    // Shown in the status line while it is empty and the list has no device.
    void SetAccessHint(AccessHint hint) { hint_ = std::move(hint); }
    // The engine's first scan and read, before the window is shown.
    void OnInitDialog();
    // Opens the About box (from the window's context menu).
    void ShowAbout();

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

    QComboBox* devices_;
    QLabel* version_;
    QPushButton* scan_;
    QPushButton* update_;
    QLineEdit* pathStatus_;
    CTorvaneDlg engine_;
    FileChooser chooser_;
    AccessHint hint_;
    // The hint for the current scan, worked out once per scan.
    std::optional<std::optional<std::string>> scanHint_;
};

}  // namespace torvane::qt
