// One device's update run: from its list entry and the loaded image, the switch to the boot
// loader, the search for it at the same USB port, erase, write and start. It owns its device
// session; several runs can go on at once, each on its own thread, sharing only the bus.
#pragma once

#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>

#include "discovery/device_reading.h"
#include "discovery/device_table.h"
#include "firmware/hex_image.h"
#include "platform/clock.h"
#include "platform/device_interfaces.h"
#include "platform/device_lock.h"
#include "platform/hid_class.h"
#include "platform/message_sink.h"
#include "protocol/device_session.h"
#include "update/update_outcome.h"
#include "usb/usb_device.h"

namespace torvane {

// What a run tells as it goes, on the run's own thread; message-box texts come as ShowMessage.
class UpdateObserver : public MessageSink {
public:
    // A new status text; progressPercent is the write's progress with a progress text, else -1.
    virtual void OnStatus(const std::string& text, int progressPercent) = 0;
    // The table of each scan of the boot-loader search.
    virtual void OnScan(const DeviceTable& /*table*/) {}
    // The row of that table the boot loader was found at, before it is opened.
    virtual void OnFound(int /*row*/) {}
    // The run is over and the closing scans begin; each comes as OnScan.
    virtual void OnClosing() {}
};

struct UpdateSeams {
    DeviceInterfaces& interfaces;
    HidClass& hid;
    Clock& clock;
    DeviceLocks& locks;
};

enum class RunResult {
    kSucceeded,     // the image is written and the run command was sent
    kFailed,        // the last status text says what, cause() why
    kRefused,       // nothing was sent: the status text says why
    kHandleFailed,  // a handle could not be opened; the message was told
    kStopped,       // a stop asked for now ended it between two exchanges; cause() says where
};

class UpdateRun {
public:
    // bootMode: whether the device was read as its boot loader; versionAnswered: whether it
    // answered the version query of that reading. Device objects register with window for
    // device-change notifications, as the dialog's do.
    UpdateRun(ListedDevice entry, std::int32_t bootMode, bool versionAnswered, UpdateSeams seams,
              UpdateObserver& observer, WindowHandle window = {});
    UpdateRun(const UpdateRun&) = delete;
    UpdateRun& operator=(const UpdateRun&) = delete;

    // A stop asked for on stop ends the run between two exchanges, the device left as it is then.
    void StopWhen(std::stop_token stop) { stop_ = std::move(stop); }
    // Opens the device; false after telling "QM Device create handle failed!".
    bool Open();
    // Reads the open device's version as a selection does, setting its boot mode; for a caller
    // that did not read it before.
    FirmwareReading Read();
    // Closes the device, as every run is before its closing scans.
    void Close();
    // After Open, with the image loaded for this device: the cost time counts from start. An
    // application without a location path, or a boot loader that did not answer, is refused.
    RunResult Update(const ImageTable& image, std::uint32_t start);

    const ListedDevice& entry() const { return entry_; }
    // The last status text.
    const std::string& status() const { return status_; }
    // Where the run ended, and why it failed: the system's error or what the device answered.
    JobStage stage() const { return stage_; }
    const std::string& cause() const { return cause_; }
    // Whether the device left the bus in the middle of an exchange.
    bool deviceLeft() const { return session_.deviceLeft(); }
    // The location path the run's device was opened at.
    const std::string& location() const { return location_; }
    // The identity the application reported in Read.
    const Identity& identity() const { return session_.deviceIdentity; }

private:
    void SetStatus(const std::string& text, int progressPercent = -1);
    // Ends the run with a status text and its cause.
    RunResult Fail(RunResult result, const char* status, std::string cause);
    // True when a stop was asked for, with the cause: stopped before what(), made only then,
    // since the check comes before every record.
    template <typename What>
    bool Stopped(What what) {
        if (!stop_.stop_requested()) {
            return false;
        }
        cause_ = "stopped by a signal before " + what();
        stopped_ = true;
        return true;
    }
    // "STATE, the device is left in its boot loader at PORT; ..." for a cause.
    std::string LeftInBootLoader(const char* state) const;
    // The row of the boot loader at this device's port after the switch, -1 when none came, -2
    // when a stop was asked for.
    int FindBootLoader(DeviceTable& table);
    bool WriteImage(const ImageTable& image);
    double SecondsSince(std::uint32_t start);

    ListedDevice entry_;
    bool versionAnswered_;
    UpdateSeams seams_;
    UpdateObserver& observer_;
    WindowHandle window_;
    std::stop_token stop_;
    bool stopped_ = false;
    DeviceSession session_;
    std::unique_ptr<CUsbDevice> device_;
    std::string location_;
    std::string status_;
    JobStage stage_ = JobStage::kOpening;
    std::string cause_;
};

}  // namespace torvane
