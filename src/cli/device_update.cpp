#include "cli/device_update.h"

namespace torvane::cli {

bool PrepareDeviceUpdate(DeviceUpdate& update, DeviceSystem& system, DeviceBoard& board,
                         const std::string& reportLog, std::ostream& err) {
    update.observer =
        std::make_unique<BoardRow>(board, board.Add(update.index, update.entry.location));
    update.hid = &system.deviceHid();
    update.outcome.location = update.entry.location;
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

void RunDeviceUpdate(DeviceUpdate& update, DeviceSystem& system, const std::string& file,
                     const UpdatePolicy& policy) {
    UpdateJob job(update.entry, file, policy,
                  {system.interfaces(), *update.hid, system.clock(), system.locks()},
                  *update.observer);
    job.UseLock(std::move(update.lock));
    update.outcome = job.Run();
    if (update.log && !update.outcome.cause.empty()) {
        update.log->NoteCause(update.outcome.cause);
    }
}

std::string VersionCell(const std::optional<FirmwareVersion>& version) {
    return version ? version->Text() : "-";
}

}  // namespace torvane::cli
