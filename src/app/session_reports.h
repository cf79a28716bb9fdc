// What a window keeps of its session for support: the report log, in memory unless it already
// goes to a file (--report-log FILE), with the cause of each update that did not pass noted in
// it, and the cause of the last one for the status line's tooltip. The dialog tells it when an
// update begins and ends; the window saves the log from its menu.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "protocol/report_log.h"
#include "protocol/report_memory.h"
#include "update/update_outcome.h"

namespace torvane {

// The menu entry's text when the log is kept in memory.
inline constexpr char kSaveReportLogEntry[] = "Save report log\u2026";

class SessionReports {
public:
    // log: the report log in front of the devices, nullptr when none; memory: where it writes,
    // nullptr when it writes to the file at filePath.
    SessionReports(ReportLog* log, ReportMemory* memory, std::string filePath = {});

    // The dialog's update worker, around one update job.
    void JobStarting();
    // How the job ended, or why the update was not started; before the closing sequence.
    void JobEnded(const UpdateOutcome& outcome);
    // After the closing sequence: what comes after is not the update's.
    void JobClosed();

    // Why the last update did not pass; empty when it passed or before any. From any thread.
    std::string LastCause() const;

    // "Save report log…", or where the log already goes.
    std::string EntryText() const;
    // True when the log is kept in memory, to be saved.
    bool Saves() const { return memory_ != nullptr; }
    // Writes the log kept in memory to path; false and why not.
    bool Save(const std::string& path, std::string& error) const;
    // The menu entry chosen: with the log kept in memory, asks choose for the file (nullopt:
    // cancelled) and saves it there. The message for the user, if any: why it was not saved,
    // or where the log file is.
    std::optional<std::string> SaveAsChosen(
        const std::function<std::optional<std::string>()>& choose) const;

private:
    ReportLog* log_;
    ReportMemory* memory_;
    std::string filePath_;
    mutable std::mutex mutex_;  // guards lastCause_
    std::string lastCause_;
};

}  // namespace torvane
