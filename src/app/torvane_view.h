// What the dialog's state and handlers drive: the window on Windows, the terminal, a test.
#pragma once

#include <optional>
#include <string>

#include "platform/message_sink.h"
#include "platform/types.h"

namespace torvane {

// The controls the engine enables and focuses.
enum class Control { DeviceList, Scan, Update };

// What the update worker asks of the user interface thread: show the texts again, read the
// selected entry again, or scan and select the first entry.
enum class UpdateNotice { kRefresh, kReselect, kRescan };

class TorvaneView : public MessageSink {
public:
    // The device list: an unsorted drop-down whose entry i is row i of the device table.
    virtual void ResetDevices() = 0;
    virtual void AddDevice(const std::string& text) = 0;
    virtual int DeviceCount() = 0;
    // The selected entry, -1 for none.
    virtual int Selection() = 0;
    virtual void Select(int index) = 0;
    virtual std::string DeviceText(int index) = 0;

    // Pushes the path-and-status text and the version text to the screen.
    virtual void ShowTexts(const std::string& pathStatusText, const std::string& versionText) = 0;
    virtual void Enable(Control control, bool enabled) = 0;
    virtual void Focus(Control control) = 0;

    // Asks for the firmware file; nullopt when the user cancels.
    virtual std::optional<std::string> ChooseFirmwareFile() = 0;

    // Hands the notice to the dialog's OnUpdateNotify on the user interface thread and returns
    // once it has been handled.
    virtual void SendUpdateNotify(UpdateNotice notice) = 0;

    // The window that device-change notifications go to; none unless the view has one.
    virtual WindowHandle MainWindow() { return {}; }
};

}  // namespace torvane
