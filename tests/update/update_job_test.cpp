// The update job on simulated devices: an outcome passes only when the device came back verified,
// and every failure says its stage and its cause.
#include <gtest/gtest.h>

#include "discovery/device_scan.h"
#include "sim/device_list_grammar.h"
#include "sim/simulated_family.h"
#include "sim/virtual_clock.h"
#include "support/hex_text.h"
#include "support/recording_messages.h"
#include "support/temp_file.h"
#include "update/update_job.h"

namespace torvane {
namespace {

struct Quiet final : UpdateObserver {
    void OnStatus(const std::string&, int) override {}
    void ShowMessage(const std::string&, const std::string& = {}) override {}
};

struct Case {
    const char* devices;
    int device;  // the list entry updated
    JobResult result;
    JobStage stage;
    const char* status;
    const char* cause;  // the whole cause; the location of the device updated replaces "@"
    const char* after;  // the version read back at its port, "-" for none
};

class UpdateJobTest : public ::testing::TestWithParam<Case> {};

TEST_P(UpdateJobTest, EndsWithItsOutcome) {
    const Case& c = GetParam();
    std::string error;
    sim::VirtualClock clock;
    sim::SimulatedFamily family(*sim::ParseDeviceList(c.devices, error), clock);
    test::RecordingMessages scanMessages;
    const DeviceTable table = ScanDevices(family.interfaces(), family.hid(), scanMessages);
    const ListedDevice entry = table.at(static_cast<std::size_t>(c.device));
    const test::TempFile image(test::QmxCImage(12));
    Quiet observer;
    UpdateJob job(entry, image.path().string(), {},
                  {family.interfaces(), family.hid(), clock, family.locks()}, observer);
    const UpdateOutcome outcome = job.Run();

    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(outcome.stage, c.stage);
    EXPECT_EQ(outcome.status.substr(0, std::string(c.status).size()), c.status);
    std::string cause = c.cause;
    if (const std::size_t at = cause.find('@'); at != std::string::npos) {
        cause.replace(at, 1, entry.location);
    }
    EXPECT_EQ(outcome.cause, cause);
    EXPECT_EQ(outcome.after ? outcome.after->Text() : "-", c.after);
    EXPECT_EQ(outcome.location, entry.location);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, UpdateJobTest,
    ::testing::Values(
        Case{"qmx-c", 0, JobResult::kPassed, JobStage::kVerifying, "FW update successfully", "",
             "3.2.0"},
        // The run command ignored, or the old version kept: written, but not passed.
        Case{"qmx-c:fail=norun", 0, JobResult::kFailed, JobStage::kVerifying,
             "FW update successfully",
             "the device did not come back in its application at @ (its boot loader is still "
             "there)",
             "1.0.2"},
        Case{"qmx-c:fail=oldversion", 0, JobResult::kFailed, JobStage::kVerifying,
             "FW update successfully", "it came back with version 3.1.0, not 3.2.0", "3.1.0"},
        // The first device leaves while the second is updated: the second is read back at its
        // own port, not at its old place in the list.
        Case{"qmx-c:unplug=2s,qmx-c:fail=norun", 1, JobResult::kFailed, JobStage::kVerifying,
             "FW update successfully",
             "the device did not come back in its application at @ (its boot loader is still "
             "there)",
             "1.0.2"},
        Case{"qmx-c:unplug=2s,qmx-c", 1, JobResult::kPassed, JobStage::kVerifying,
             "FW update successfully", "", "3.2.0"},
        Case{"qmx-c:fail=unplug@5", 0, JobResult::kFailed, JobStage::kWriting, "Write FW error!",
             "record 5 (0x2280): the device left the bus (The device is not connected)", "-"},
        Case{"qmx-c:fail=echo@1", 0, JobResult::kFailed, JobStage::kWriting, "Write FW error!",
             "record 1 (0x2200): the echo differs at byte 8 (0x00, not 0x01)", "1.0.2"},
        Case{"qmx-c:fail=erase", 0, JobResult::kFailed, JobStage::kErasing, "Erase failed!",
             "no confirmation after 10 polls", "1.0.2"},
        // The scan opens the device twice; the job's open is refused.
        Case{"qmx-c:fail=denied@3", 0, JobResult::kFailed, JobStage::kOpening,
             "QM Device create handle failed!", "cannot open @ (Access is denied)", "3.1.0"},
        Case{"qmx-c:fail=noreturn", 0, JobResult::kFailed, JobStage::kSwitching,
             "Bootloader not found!", "no boot loader at @ within 50 scans", "-"},
        Case{"qmx-c:version=2.9.9", 0, JobResult::kRefused, JobStage::kReading,
             "This version don't support update",
             "its version 2.9.9 is older than the boot loader protocol", "2.9.9"}));

}  // namespace
}  // namespace torvane
