// Reading a report log back: its reports in order, grouped by the device that exchanged them,
// and what a support engineer wants to know of it.
#pragma once

#include <array>
#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "platform/hid_class.h"

namespace torvane {

struct LoggedReport {
    std::size_t line = 0;  // from 1
    std::uint32_t ms = 0;
    bool out = false;  // OUT: the host sent it; IN: the device answered it
    std::vector<std::uint8_t> bytes;
};

// The reports of one appearance of the device on the bus: its application, or its boot loader,
// from the time it enumerated until it left.
struct LoggedDevice {
    std::size_t line = 0;  // the DEVICE line, or the first report when the log has none
    std::uint32_t ms = 0;  // the time of that line
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    HidCaps caps;
    std::vector<LoggedReport> reports;
};

struct LoggedSession {
    std::vector<LoggedDevice> devices;  // in the order they appeared; never empty
    std::size_t lines = 0;
};

// The log in `in`, or nullopt and "line N: why" in error. A log written before the DEVICE lines
// were logged is split where the report length changes; its application is then taken to be the
// model whose identity bytes it reports.
std::optional<LoggedSession> ReadReportLog(std::istream& in, std::string& error);

// What a log holds, for `replay-check`.
struct LogSummary {
    struct Version {
        std::size_t line = 0;
        std::string text;  // "3.1.0", as the version display shows it
    };
    std::string model;                     // "QMX-C"; "Z51-Arud" for a boot loader throughout
    std::optional<Version> versionBefore;  // the first application version reply
    std::optional<std::array<std::uint8_t, 7>> identity;
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

}  // namespace torvane
