#include "cli/station_record.h"

#include <chrono>
#include <ctime>

#include "cli/json_text.h"

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

}  // namespace

StationRecord MakeStationRecord(int index, const ListedDevice& entry, const UpdateOutcome& outcome,
                                std::uint32_t seconds10) {
    const bool read = outcome.stage != JobStage::kOpening;
    const std::string before = VersionText(outcome.before, read && !outcome.bootLoader);
    // After its run a device is read again at its port; one that left nothing there has none.
    const std::string after = VersionText(outcome.after, false);
    const std::string seconds =
        std::to_string(seconds10 / 10) + "." + std::to_string(seconds10 % 10);
    StationRecord record;
    record.object = {{"time", WallTime("%Y-%m-%dT%H:%M:%SZ", true)},
                     {"device", index},
                     {"location", entry.location},
                     {"model", entry.text},
                     {"versionBefore", JsonVersion(outcome.before)},
                     {"versionAfter", JsonVersion(outcome.after)},
                     {"result", ResultText(outcome.result)},
                     {"stage", StageText(outcome.stage)},
                     {"status", outcome.status},
                     {"cause", outcome.cause},
                     {"seconds", seconds10 / 10.0}};
    record.line = "[" + std::to_string(index) + "] " + WallTime("%H:%M:%S", false) + "  " +
                  (entry.location.empty() ? "(no location)" : entry.location) + "  " + entry.text +
                  "  " + before + " -> " + after + "  " + ResultText(outcome.result) + "  " +
                  seconds + " s  " + outcome.status +
                  (outcome.cause.empty() ? "" : ": " + outcome.cause);
    return record;
}

}  // namespace torvane::cli
