// The update job on simulated devices: an outcome passes only when the device came back verified,
// and every failure says its stage and its cause.
#include <memory>
#include <stop_token>

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
             "-"},
        Case{"qmx-c:fail=oldversion", 0, JobResult::kFailed, JobStage::kVerifying,
             "FW update successfully", "it came back with version 3.1.0, not 3.2.0", "3.1.0"},
        // The first device leaves while the second is updated: the second is read back at its
        // own port, not at its old place in the list.
        Case{"qmx-c:unplug=2s,qmx-c:fail=norun", 1, JobResult::kFailed, JobStage::kVerifying,
             "FW update successfully",
             "the device did not come back in its application at @ (its boot loader is still "
             "there)",
             "-"},
        Case{"qmx-c:unplug=2s,qmx-c", 1, JobResult::kPassed, JobStage::kVerifying,
             "FW update successfully", "", "3.2.0"},
        Case{"qmx-c:fail=unplug@5", 0, JobResult::kFailed, JobStage::kWriting, "Write FW error!",
             "record 5 (0x2280): the device left the bus (The device is not connected)", "-"},
        Case{"qmx-c:fail=echo@1", 0, JobResult::kFailed, JobStage::kWriting, "Write FW error!",
             "record 1 (0x2200): the echo differs at byte 8 (0x00, not 0x01)", "-"},
        Case{"qmx-c:fail=erase", 0, JobResult::kFailed, JobStage::kErasing, "Erase failed!",
             "no confirmation after 10 polls", "-"},
        // The scan opens the device twice; the job's open is refused.
        Case{"qmx-c:fail=denied@3", 0, JobResult::kFailed, JobStage::kOpening,
             "QM Device create handle failed!", "cannot open @ (Access is denied)", "3.1.0"},
        Case{"qmx-c:fail=noreturn", 0, JobResult::kFailed, JobStage::kSwitching,
             "Bootloader not found!", "no boot loader at @ within 50 scans", "-"},
        Case{"qmx-c:version=2.9.9", 0, JobResult::kRefused, JobStage::kReading,
             "This version don't support update",
             "its version 2.9.9 is older than the boot loader protocol", "2.9.9"}));

// The job on the first device of devices, stopped once stopAt percent of the image is written.
struct Job {
    sim::VirtualClock clock;
    std::unique_ptr<sim::SimulatedFamily> family;
    ListedDevice entry;
    UpdateOutcome outcome;

    Job(const char* devices, UpdatePolicy policy, int stopAt = -1) {
        std::string error;
        family =
            std::make_unique<sim::SimulatedFamily>(*sim::ParseDeviceList(devices, error), clock);
        test::RecordingMessages scanMessages;
        entry = ScanDevices(family->interfaces(), family->hid(), scanMessages).at(0);
        struct Stopping final : UpdateObserver {
            std::stop_source stop;
            int at;
            explicit Stopping(int percent) : at(percent) {}
            void OnStatus(const std::string&, int percent) override {
                if (at >= 0 && percent >= at) {
                    stop.request_stop();
                }
            }
            void ShowMessage(const std::string&, const std::string& = {}) override {}
        } observer(stopAt);
        const test::TempFile image(test::QmxCImage(40));
        UpdateJob job(entry, image.path().string(), policy,
                      {family->interfaces(), family->hid(), clock, family->locks()}, observer);
        job.StopWhen(observer.stop.get_token());
        outcome = job.Run();
    }
};

// The boot loader search waits for a boot loader: an application slow to leave is not it.
TEST(UpdateJob, AnApplicationSlowToLeaveIsNotTakenForItsBootLoader) {
    const Job job("qmx-c:leave=700ms", {});
    EXPECT_TRUE(job.outcome.Passed()) << job.outcome.cause;
}

// A board slow to come back from its run passes within the return window, and fails, left
// gone from its port, without one.
TEST(UpdateJob, ABoardSlowToComeBackIsWaitedForWithinTheReturnWindow) {
    const Job waited("qmx-c:restart=8s", {.returnWindowMs = kReturnWindowMs});
    EXPECT_TRUE(waited.outcome.Passed()) << waited.outcome.cause;
    EXPECT_TRUE(waited.outcome.stayed);
    const Job closingScansOnly("qmx-c:restart=8s", {});
    EXPECT_EQ(
        closingScansOnly.outcome.cause,
        "the device did not come back in its application at " + closingScansOnly.entry.location);
    EXPECT_FALSE(closingScansOnly.outcome.stayed);
}

// A stop asked for in the middle of the writes ends the job before the next record: the board
// is left half-written in its boot loader, and the cause says so.
TEST(UpdateJob, AStopEndsTheWritesBetweenTwoRecords) {
    const Job job("qmx-c", {}, 50);
    EXPECT_EQ(job.outcome.result, JobResult::kFailed);
    EXPECT_EQ(job.outcome.status, "stopped");
    EXPECT_EQ(job.outcome.stage, JobStage::kWriting);
    const std::string& cause = job.outcome.cause;
    EXPECT_EQ(cause.substr(0, 33), "stopped by a signal before record") << cause;
    EXPECT_NE(cause.find(": half-written, the device is left in its boot loader at " +
                         job.entry.location + "; an update from the boot loader finishes it"),
              std::string::npos)
        << cause;
    const sim::FamilyDevice& device = *job.family->devices().at(0);
    EXPECT_EQ(device.mode(), sim::FamilyDevice::Mode::BootLoader);
    EXPECT_GT(device.writeCount(), 10);
    EXPECT_LT(device.writeCount(), 30);
}

}  // namespace
}  // namespace torvane
