#include "cli/replay_summary.h"

#include <algorithm>
#include <array>
#include <span>

#include "firmware/hex_image.h"
#include "protocol/family.h"
#include "protocol/report_codec.h"

namespace torvane::cli {

LogSummary Summarize(const LoggedSession& session) {
    LogSummary summary;
    std::vector<const LoggedReport*> reports;
    for (const LoggedDevice& device : session.devices) {
        if (summary.model.empty() && device.productId != family::kBootLoaderProductId) {
            summary.model = std::string(family::ListText(device.vendorId, device.productId));
        }
        for (const LoggedReport& report : device.reports) {
            reports.push_back(&report);
        }
    }
    if (summary.model.empty()) {
        summary.model =
            std::string(family::ListText(family::kVendorId, family::kBootLoaderProductId));
    }
    if (!reports.empty()) {
        summary.durationMs = reports.back()->ms - reports.front()->ms;
    }
    const auto failed = [&](std::size_t line, const std::string& why) {
        if (summary.firstFailure.empty()) {
            summary.firstFailure = "line " + std::to_string(line) + ": " + why;
        }
    };
    int polls = 0;
    for (std::size_t i = 0; i < reports.size(); ++i) {
        using enum family::CommandKind;
        const LoggedReport& report = *reports[i];
        const LoggedReport* reply =
            i + 1 < reports.size() && !reports[i + 1]->out ? reports[i + 1] : nullptr;
        const std::span<const std::uint8_t> answer =
            reply != nullptr ? std::span(reply->bytes) : std::span<const std::uint8_t>();
        switch (report.Command()) {
            case AppVersion:
                if (const auto fields = family::DecodeAppVersionReply(answer)) {
                    const LogSummary::Version version{
                        reply->line, FirmwareVersion::FromBytes(fields->version).Text()};
                    if (summary.runLine) {
                        summary.versionAfter = version;
                    } else if (!summary.versionBefore) {
                        summary.versionBefore = version;
                        summary.identity = fields->identity;
                    }
                }
                break;
            case BootVersion:
                if (const auto digits = family::DecodeBootVersionReply(answer)) {
                    const std::array<std::uint8_t, 4> bytes{static_cast<std::uint8_t>((*digits)[0]),
                                                            static_cast<std::uint8_t>((*digits)[1]),
                                                            static_cast<std::uint8_t>((*digits)[2]),
                                                            0};
                    summary.bootVersion =
                        LogSummary::Version{reply->line, FirmwareVersion::FromDigits(bytes).Text()};
                }
                break;
            case EnterDownload:
                summary.switchLine = summary.switchLine.value_or(report.line);
                break;
            case EraseStart:
                summary.eraseLine = report.line;
                summary.eraseConfirmed = false;
                polls = 0;
                break;
            case EraseStatus: {
                if (!summary.eraseLine || summary.eraseConfirmed) {
                    break;
                }
                ++polls;
                const family::EraseStatusReply status = family::DecodeEraseStatusReply(answer);
                if (status.replyCode && status.done) {
                    summary.eraseConfirmed = true;
                } else if (status.replyCode || status.done) {
                    failed(reply->line, "the erase failed: its status reply confirms only half");
                } else if (polls == family::kErasePolls) {
                    failed(report.line, "the erase was not confirmed in " +
                                            std::to_string(family::kErasePolls) + " polls");
                }
                break;
            }
            case WriteRecord: {
                const std::optional<ImageRecord> record = family::RecordOf(report.bytes);
                if (!record) {
                    break;
                }
                const std::string at = "the record at 0x" + HexDigits(record->Address(), 4);
                if (reply == nullptr) {
                    failed(report.line, at + " got no echo");
                    break;
                }
                std::array<std::uint8_t, family::kBootReportSize> expected{};
                family::BuildWriteEcho(expected, *record);
                const std::size_t size = std::min(answer.size(), expected.size());
                const std::size_t differs = static_cast<std::size_t>(
                    std::mismatch(expected.begin(), expected.begin() + size, answer.begin()).first -
                    expected.begin());
                if (differs == expected.size()) {
                    ++summary.recordsWritten;
                } else if (differs < size) {
                    failed(reply->line, "the echo of " + at + " is wrong at byte " +
                                            std::to_string(differs) + ": 0x" +
                                            HexDigits(answer[differs], 2) + " for 0x" +
                                            HexDigits(expected[differs], 2));
                } else {
                    failed(reply->line, "the echo of " + at + " is short");
                }
                break;
            }
            case Run:
                summary.runLine = report.line;
                break;
            default:
                break;
        }
    }
    const bool switched = std::any_of(
        session.devices.begin(), session.devices.end(),
        [](const LoggedDevice& d) { return d.productId == family::kBootLoaderProductId; });
    if (!summary.firstFailure.empty()) {
        summary.end = "the update failed, " + summary.firstFailure;
    } else if (summary.versionAfter) {
        summary.end = "the new firmware answered with version " + summary.versionAfter->text;
    } else if (summary.runLine) {
        summary.end =
            "the boot loader was told to run the firmware; the log ends before the "
            "application answered";
    } else if (summary.recordsWritten > 0) {
        summary.end = "the log ends after " + std::to_string(summary.recordsWritten) +
                      " records, before the run command: the device was left half-written";
    } else if (summary.eraseLine) {
        summary.end = summary.eraseConfirmed
                          ? "the log ends after the erase, before any record: the device "
                            "holds no firmware"
                          : "the log ends while the erase was polled: the device may hold no "
                            "firmware";
    } else if (summary.switchLine) {
        summary.end = switched ? "the log ends with the boot loader, before the erase"
                               : "the device was switched to its boot loader; the log ends "
                                 "before it appeared again";
    } else {
        summary.end = "nothing was written: the log holds queries only";
    }
    return summary;
}

}  // namespace torvane::cli
