// The update run on its worker thread: load, switch to the boot loader and find it again by its
// USB location path, erase, write, start the new firmware, and back to idle.
#include <cstdio>
#include <memory>

#include "app/torvane_dlg.h"
#include "protocol/family.h"
#include "protocol/write_order.h"
#include "usb/text_error.h"

namespace torvane {
namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

double CTorvaneDlg::SecondsSince(std::uint32_t start) {
    return ElapsedMs(start, clock_.TickCount()) / 1000.0;
}

void CTorvaneDlg::SetStatus(const std::string& text) {
    pathStatusText = text;
    Notify(kNotifyRefresh);
}

int CTorvaneDlg::UpdateWorker() {
    // updateBusy was set by StartUpdate before this thread began.
    Notify(kNotifyRefresh);
    bool opened = false;
    try {
        opened = RunUpdate();
    } catch (const TextError& error) {
        view_.ShowMessage(error.text());
    }
    ClosingSequence();
    return opened ? 0 : -1;
}

bool CTorvaneDlg::RunUpdate() {
    std::string location;
    // Every run opens the selected entry afresh; a handle from an earlier read may be gone.
    if (!OpenEntry(view_.Selection(), location)) {
        view_.ShowMessage("QM Device create handle failed!\n");
        return false;
    }

    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(pathStatusText.c_str(), "rb"));
    if (!file) {
        SetStatus("FW File Load error!");
        return true;
    }
    const std::uint32_t start = clock_.TickCount();
    const LoadRules rules{session.bootMode, session.deviceIdentity};
    if (!LoadHexImage(file.get(), rules, image, &loadError)) {
        SetStatus("File Parse error!");
        return true;
    }
    char text[kStatusBufferSize];
    FormatStatus(text, "FW Parse successfully, cost time %.1f second", SecondsSince(start));
    SetStatus(text);

    if (session.bootMode == 0) {
        session.EnterDownloadMode();
        // The device comes back as its boot loader at the same USB port. A device without a
        // location path cannot be told from another, so it is never taken for the one updated.
        int found = -1;
        for (int attempt = 0; attempt < family::kBootLoaderSearchAttempts && found < 0; ++attempt) {
            ScanDevices();
            for (int i = 0; i < listedCount && !location.empty(); ++i) {
                if (listedLocations[static_cast<std::size_t>(i)] == location) {
                    found = i;
                    break;
                }
            }
            clock_.Sleep(family::kScanIntervalMs);
        }
        if (found < 0) {
            SetStatus("Bootloader not found!");
            return true;
        }
        view_.Select(found);
        Notify(kNotifyRefresh);
        currentDevice.reset();
        session.sessionHandle = {};
        if (!OpenEntry(found, location)) {
            view_.ShowMessage("QM Device create handle failed!\n");
            return false;
        }
    }

    if (!session.EraseFirmware()) {
        SetStatus("Erase failed!");
        return true;
    }
    if (!WriteImage()) {
        SetStatus("Write FW error!");
        return true;
    }
    FormatStatus(text, "FW update successfully, cost time %.1f second", SecondsSince(start));
    SetStatus(text);
    session.RunFirmware();
    clock_.Sleep(family::kRunWaitMs);
    return true;
}

void CTorvaneDlg::ClosingSequence() {
    currentDevice.reset();
    updateBusy = false;
    for (int scan = 0; scan < family::kClosingScans; ++scan) {
        try {
            ScanDevices();
        } catch (const TextError& error) {
            view_.ShowMessage(error.text());
        }
        clock_.Sleep(family::kScanIntervalMs);
    }
    view_.Select(0);
    view_.Enable(Control::DeviceList, true);
    view_.Enable(Control::Scan, true);
    view_.Focus(Control::Scan);
    view_.Enable(Control::Update, true);
    view_.Focus(Control::Update);
    Notify(kNotifyRescan);
}

bool CTorvaneDlg::WriteImage() {
    char text[kStatusBufferSize];
    for (const WriteStep& step : PlanWrites(image)) {
        if (!session.WriteRecord(image.imageRecords[static_cast<std::size_t>(step.record)])) {
            return false;
        }
        if (step.progressPercent >= 0) {
            FormatStatus(text, "Erase successfully, downloading %d%%...", step.progressPercent);
            SetStatus(text);
        }
    }
    return true;
}

}  // namespace torvane
