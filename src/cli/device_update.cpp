#include "cli/device_update.h"

#include <fcntl.h>

#include <cerrno>

#if defined(_WIN32)
#include <io.h>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

namespace torvane::cli {
namespace {

// Creates path as an empty file; false (errno says why, EEXIST when it exists) when it cannot.
bool CreateNewFile(const std::string& path) {
#if defined(_WIN32)
    const int fd =
        _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    return fd >= 0 && _close(fd) == 0;
#else
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    return fd >= 0 && ::close(fd) == 0;
#endif
}

}  // namespace

bool PrepareDeviceUpdate(DeviceUpdate& update, DeviceSystem& system, DeviceBoard& board,
                         const std::string& reportLog, std::ostream& err, std::size_t* firstFree) {
    update.observer = std::make_unique<BoardRow>(
        board, board.Add(update.index, update.entry.location, update.entry.serial));
    update.hid = &system.deviceHid();
    update.outcome.location = update.entry.location;
    if (reportLog.empty()) {
        return true;
    }
    std::size_t n = firstFree != nullptr ? *firstFree : static_cast<std::size_t>(update.index);
    update.logPath = DevicePath(reportLog, n);
    if (firstFree != nullptr) {
        // Any other failure than an existing file is the open's below to tell.
        while (!CreateNewFile(update.logPath) && errno == EEXIST) {
            update.logPath = DevicePath(reportLog, ++n);
        }
        *firstFree = n + 1;
    }
    update.logFile.open(update.logPath, std::ios::binary | std::ios::trunc);
    if (!update.logFile) {
        err << "torvane-cli: " << CannotWrite(update.logPath) << '\n';
        return false;
    }
    update.log = std::make_unique<ReportLog>(system.deviceHid(), system.clock(), update.logFile);
    update.hid = update.log.get();
    return true;
}

void RunDeviceUpdate(DeviceUpdate& update, DeviceSystem& system, const std::string& file,
                     const UpdatePolicy& policy, std::stop_token stop) {
    UpdateJob job(update.entry, file, policy,
                  {system.interfaces(), *update.hid, system.clock(), system.locks()},
                  *update.observer);
    job.UseLock(std::move(update.lock));
    job.StopWhen(std::move(stop));
    update.outcome = job.Run();
    if (update.log && !update.outcome.cause.empty()) {
        update.log->NoteCause(update.outcome.cause);
    }
}

void TellIncompleteLog(const ReportLog* log, const std::string& path, std::ostream& err) {
    if (log != nullptr && !log->Whole()) {
        err << "torvane-cli: the report log '" << path
            << "' is incomplete: it could not be written to its end\n";
    }
}

std::string VersionCell(const std::optional<FirmwareVersion>& version) {
    return version ? version->Text() : "-";
}

}  // namespace torvane::cli
