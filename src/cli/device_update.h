// One device's update as torvane-cli runs it when it updates several devices: a row on the board,
// a report log of its own when asked for, and its update job on its own thread.
#pragma once

#include <fstream>
#include <memory>
#include <ostream>
#include <stop_token>
#include <string>

#include "cli/device_board.h"
#include "discovery/device_table.h"
#include "protocol/report_log.h"
#include "system/device_system.h"
#include "update/update_job.h"

namespace torvane::cli {

struct DeviceUpdate {
    ListedDevice entry;
    int index = 0;  // the number its board row and its report log carry
    std::unique_ptr<BoardRow> observer;
    std::string logPath;  // empty without a report log
    std::ofstream logFile;
    std::unique_ptr<ReportLog> log;
    HidClass* hid = nullptr;
    // The device's lock when the caller took it; else the job takes it.
    std::unique_ptr<DeviceLock> lock;
    UpdateOutcome outcome;
};

// Gives update a row on board and, with a report-log pattern, a log file of its own: the
// pattern's file for update.index, or with firstFree the first of its files from *firstFree on
// that does not exist yet (the pattern holds {n}), created new so that no earlier log is
// overwritten (*firstFree then moves past it). False after telling err when the log cannot be
// written.
bool PrepareDeviceUpdate(DeviceUpdate& update, DeviceSystem& system, DeviceBoard& board,
                         const std::string& reportLog, std::ostream& err,
                         std::size_t* firstFree = nullptr);

// The device's update job with file under policy, stopped between two exchanges once stop is
// asked for; its outcome goes to update.outcome, and its cause to the report log.
void RunDeviceUpdate(DeviceUpdate& update, DeviceSystem& system, const std::string& file,
                     const UpdatePolicy& policy, std::stop_token stop = {});

// Tells err when log, written to path, could not be written to its end.
void TellIncompleteLog(const ReportLog* log, const std::string& path, std::ostream& err);

// The version as a table shows it: "-" where there is none to show.
std::string VersionCell(const std::optional<FirmwareVersion>& version);

}  // namespace torvane::cli
