#include "cli/device_update.h"

#include "discovery/device_reading.h"
#include "discovery/device_scan.h"
#include "protocol/family.h"
#include "update/update_run.h"
#include "usb/text_error.h"

namespace torvane::cli {
namespace {

constexpr const char* kHandleFailed = "QM Device create handle failed!";

}  // namespace

bool PrepareDeviceUpdate(DeviceUpdate& update, DeviceSystem& system, DeviceBoard& board,
                         const std::string& reportLog, std::ostream& err) {
    update.observer =
        std::make_unique<BoardRow>(board, board.Add(update.index, update.entry.location));
    update.hid = &system.deviceHid();
    if (reportLog.empty()) {
        return true;
    }
    const std::string path = DevicePath(reportLog, update.index);
    update.logFile.open(path, std::ios::binary | std::ios::trunc);
    if (!update.logFile) {
        err << "torvane-cli: " << CannotWrite(path) << '\n';
        return false;
    }
    update.log = std::make_unique<ReportLog>(system.deviceHid(), system.clock(), update.logFile);
    update.hid = update.log.get();
    return true;
}

bool ReadDevice(DeviceUpdate& update, DeviceSystem& system) {
    DeviceSession session(*update.hid, system.clock(), *update.observer);
    std::unique_ptr<CUsbDevice> device = OpenListedDevice(
        update.entry, system.interfaces(), *update.hid, *update.observer, {}, session);
    if (!device) {
        update.observer->ShowMessage(std::string(kHandleFailed) + "\n");
        update.result = kHandleFailed;
        return false;
    }
    const FirmwareReading reading = ReadFirmwareVersion(session);
    update.bootMode = session.bootMode;
    update.versionAnswered = reading.answered;
    update.identity = session.deviceIdentity;
    update.versionBytes = reading.bytes;
    update.versionBefore = reading.versionText;
    if (reading.major && *reading.major < family::kMinUpdatableMajor) {
        update.result = "This version don't support update";
        update.observer->ShowMessage(update.result);
        return false;
    }
    return true;
}

void RunDeviceUpdate(DeviceUpdate& update, DeviceSystem& system) {
    try {
        UpdateRun run(update.entry, update.bootMode, update.versionAnswered,
                      {system.interfaces(), *update.hid, system.clock()}, *update.observer);
        if (!run.Open()) {
            update.result = kHandleFailed;
            return;
        }
        const RunResult result = run.Update(*update.image, update.start);
        update.result = result == RunResult::kHandleFailed ? kHandleFailed : run.status();
        update.ok = result == RunResult::kSucceeded;
    } catch (const TextError& error) {
        update.observer->ShowMessage(error.text());
        update.result = error.text();
    }
}

void ReadNewVersions(const std::vector<DeviceUpdate*>& updates, DeviceSystem& system,
                     MessageSink& messages) {
    DeviceTable table;
    for (int scan = 0; scan < family::kClosingScans; ++scan) {
        table = ScanDevices(system.interfaces(), system.deviceHid(), messages);
        system.clock().Sleep(family::kScanIntervalMs);
    }
    for (DeviceUpdate* update : updates) {
        for (const ListedDevice& row : table) {
            const bool same = update->entry.location.empty()
                                  ? updates.size() == 1 && row.index == update->entry.index
                                  : row.location == update->entry.location;
            if (!same) {
                continue;
            }
            DeviceSession session(*update->hid, system.clock(), *update->observer);
            if (const std::unique_ptr<CUsbDevice> device = OpenListedDevice(
                    row, system.interfaces(), *update->hid, *update->observer, {}, session)) {
                update->version = ReadFirmwareVersion(session).versionText;
            }
            break;
        }
    }
}

}  // namespace torvane::cli
