#include "app/session_reports.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace torvane {

SessionReports::SessionReports(ReportLog* log, ReportMemory* memory, std::string filePath)
    : log_(log), memory_(memory), filePath_(std::move(filePath)) {}

void SessionReports::JobStarting() {
    if (memory_ != nullptr) {
        memory_->BeginUpdate();
    }
}

void SessionReports::JobEnded(const UpdateOutcome& outcome) {
    const std::string cause = outcome.Passed() ? std::string() : outcome.cause;
    if (log_ != nullptr && !cause.empty()) {
        log_->NoteCause(cause);
    }
    const std::lock_guard lock(mutex_);
    lastCause_ = cause;
}

void SessionReports::JobClosed() {
    if (memory_ != nullptr) {
        memory_->EndUpdate();
    }
}

std::string SessionReports::LastCause() const {
    const std::lock_guard lock(mutex_);
    return lastCause_;
}

std::string SessionReports::EntryText() const {
    return Saves() || filePath_.empty() ? kSaveReportLogEntry : "Report log: " + filePath_;
}

bool SessionReports::Save(const std::string& path, std::string& error) const {
    if (memory_ == nullptr) {
        error = "the report log goes to " + filePath_;
        return false;
    }
    const std::string text = memory_->Text();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    out << text;
    out.close();
    if (!out) {
        error = "cannot write all of " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

std::optional<std::string> SessionReports::SaveAsChosen(
    const std::function<std::optional<std::string>()>& choose) const {
    std::string path;
    if (Saves()) {
        const std::optional<std::string> chosen = choose();
        if (!chosen) {
            return std::nullopt;
        }
        path = *chosen;
    }
    // With a log file, Save says where it goes.
    std::string error;
    if (!Save(path, error)) {
        return error;
    }
    return std::nullopt;
}

}  // namespace torvane
