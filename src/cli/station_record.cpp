#include "cli/station_record.h"

#include <chrono>
#include <ctime>

#include "cli/json_text.h"
#include "dashboard/station_feed.h"

namespace torvane::cli {
namespace {

std::string WallTime(const char* format, bool utc) {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    // Only the station's thread asks, so the shared buffer of localtime and gmtime is safe.
    const std::tm* parts = utc ? std::gmtime(&now) : std::localtime(&now);
    char text[32] = "";
    if (parts != nullptr) {
        std::strftime(text, sizeof text, format, parts);
    }
    return text;
}

// A version as a record shows it: its text; none for a boot loader or a device never read;
// "no answer" for an application that did not answer its version query.
std::string VersionText(const std::optional<FirmwareVersion>& version, bool answerExpected) {
    return version ? version->Text() : answerExpected ? "no answer" : "-";
}

// The fields of every record: when, which device, where and its report log.
nlohmann::json Record(const DeviceUpdate& update) {
    nlohmann::json object = {{"time", WallTime("%Y-%m-%dT%H:%M:%SZ", true)},
                             {"device", update.index},
                             {"location", update.entry.location},
                             {"model", update.entry.text},
                             {"serial", JsonSerial(update.entry.serial)}};
    if (!update.logPath.empty()) {
        object["reportLog"] = update.logPath;
    }
    return object;
}

}  // namespace

StationRecord MakeStationRecord(const DeviceUpdate& update, std::uint32_t seconds10) {
    const UpdateOutcome& outcome = update.outcome;
    const ListedDevice& entry = update.entry;
    const bool read = outcome.stage != JobStage::kOpening;
    const std::string before = VersionText(outcome.before, read && !outcome.bootLoader);
    // After its run a device is read again at its port; one that left nothing there has none.
    const std::string after = VersionText(outcome.after, false);
    const std::string seconds =
        std::to_string(seconds10 / 10) + "." + std::to_string(seconds10 % 10);
    StationRecord record;
    record.object = Record(update);
    record.object.update({{"versionBefore", JsonVersion(outcome.before)},
                          {"versionAfter", JsonVersion(outcome.after)},
                          {"result", ResultText(outcome.result)},
                          {"stage", StageText(outcome.stage)},
                          {"status", outcome.status},
                          {"cause", outcome.cause},
                          {"seconds", seconds10 / 10.0}});
    record.line = "[" + std::to_string(update.index) + "] " + WallTime("%H:%M:%S", false) + "  " +
                  (entry.location.empty() ? "(no location)" : entry.location) + "  " + entry.text +
                  "  " + SerialCell(entry.serial) + "  " + before + " -> " + after + "  " +
                  ResultText(outcome.result) + "  " + seconds + " s  " + outcome.status +
                  (outcome.cause.empty() ? "" : ": " + outcome.cause);
    return record;
}

nlohmann::json MakeStartedRecord(const DeviceUpdate& update) {
    nlohmann::json object = Record(update);
    object["result"] = "started";
    return object;
}

StationRecord MakeTally(const std::array<std::size_t, 3>& tally, std::uint32_t elapsedMs) {
    const std::size_t passed = tally[0], failed = tally[1], skipped = tally[2];
    const std::size_t perHour = dashboard::BoardsPerHour(passed + failed + skipped, elapsedMs);
    StationRecord record;
    record.object = {{"event", "tally"},
                     {"passed", passed},
                     {"failed", failed},
                     {"skipped", skipped},
                     {"seconds", elapsedMs / 1000.0},
                     {"devicesPerHour", perHour}};
    record.line = "tally: " + std::to_string(passed) + " passed, " + std::to_string(failed) +
                  " failed, " + std::to_string(skipped) + " skipped in " +
                  std::to_string((elapsedMs + 500) / 1000) + " s: " + std::to_string(perHour) +
                  " devices per hour";
    return record;
}

}  // namespace torvane::cli
