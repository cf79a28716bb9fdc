// What a report log holds, as `replay-check` tells it: the device, its versions, the steps of
// the update with their lines, the first failure and where the exchange ended.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "firmware/firmware_version.h"
#include "protocol/report_log.h"

namespace torvane::cli {

struct LogSummary {
    struct Version {
        std::size_t line = 0;
        std::string text;  // "3.1.0", as the version display shows it
    };
    std::string model;                     // "QMX-C"; "Z51-Arud" for a boot loader throughout
    std::optional<Version> versionBefore;  // the first application version reply
    std::optional<Identity> identity;
    std::optional<Version> bootVersion;
    std::optional<std::size_t> switchLine;  // the enter-download report
    std::optional<std::size_t> eraseLine;   // the erase command
    bool eraseConfirmed = false;
    std::size_t recordsWritten = 0;  // echoed as sent
    std::optional<std::size_t> runLine;
    std::optional<Version> versionAfter;  // the application's reply after the run
    std::string firstFailure;             // "line N: why"; empty when nothing failed
    std::string end;                      // where the exchange ended, a sentence
    std::uint32_t durationMs = 0;
};
LogSummary Summarize(const LoggedSession& session);

}  // namespace torvane::cli
