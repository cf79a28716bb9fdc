// How one device's update ended: passed only when the device came back verified, with the stage
// it ended in, the status text the window shows, the cause and the versions before and after.
#pragma once

#include <optional>
#include <string>

#include "firmware/firmware_version.h"

namespace torvane {

enum class JobResult {
    kPassed,   // the device came back in its application at its port, with the image's version
    kFailed,   // it may have been changed; cause says what went wrong
    kRefused,  // nothing was sent that changes it: the device, the file or the port was refused
    kSkipped,  // the policy had it left as it is
};

enum class JobStage {
    kOpening,
    kReading,
    kLoading,
    kSwitching,  // to the boot loader, and the search for it at the device's port
    kErasing,
    kWriting,
    kStarting,
    kVerifying,  // the closing scans and the read-back at the device's port
};

// "passed", "failed", "refused", "skipped".
const char* ResultText(JobResult result);
// "opening", "reading", ... as the stage is named in records.
const char* StageText(JobStage stage);

struct UpdateOutcome {
    JobResult result = JobResult::kFailed;
    JobStage stage = JobStage::kOpening;
    // The status text the run ended with, as the window shows it ("Write FW error!", ...); for a
    // device refused or skipped before its run, what refused it.
    std::string status;
    // Why it did not pass, in one line ("record 40 (0x2480): the device left the bus (No such
    // device)"); empty when it passed.
    std::string cause;
    std::string location;
    // Whether the device was read as its boot loader.
    bool bootLoader = false;
    // The application's version it answered with before and after, read back at its port;
    // nullopt for a boot loader, where there was none or no answer.
    std::optional<FirmwareVersion> before;
    std::optional<FirmwareVersion> after;
    // Whether the device was still at its port when the job ended, without having left it but
    // for the re-enumerations of its run: false when it left the bus in the middle of an
    // exchange or after it came back, or never came back. What is at the port after a job that
    // ends with false is another board, or this one plugged in again.
    bool stayed = true;

    bool Passed() const { return result == JobResult::kPassed; }
};

}  // namespace torvane
