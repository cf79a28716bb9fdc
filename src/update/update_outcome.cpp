#include "update/update_outcome.h"

namespace torvane {

const char* ResultText(JobResult result) {
    switch (result) {
        case JobResult::kPassed:
            return "passed";
        case JobResult::kFailed:
            return "failed";
        case JobResult::kRefused:
            return "refused";
        case JobResult::kSkipped:
            break;
    }
    return "skipped";
}

const char* StageText(JobStage stage) {
    switch (stage) {
        case JobStage::kOpening:
            return "opening";
        case JobStage::kReading:
            return "reading";
        case JobStage::kLoading:
            return "loading";
        case JobStage::kSwitching:
            return "switching";
        case JobStage::kErasing:
            return "erasing";
        case JobStage::kWriting:
            return "writing";
        case JobStage::kStarting:
            return "starting";
        case JobStage::kVerifying:
            break;
    }
    return "verifying";
}

}  // namespace torvane
