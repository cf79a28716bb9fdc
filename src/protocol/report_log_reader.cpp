#include "protocol/report_log_reader.h"

#include <algorithm>
#include <charconv>
#include <span>
#include <sstream>

#include "firmware/hex_image.h"
#include "protocol/family.h"
#include "protocol/report_codec.h"
#include "protocol/report_log.h"

namespace torvane {
namespace {

// A report longer than any the family could announce is damage, not a report; so is a line
// longer than the longest line of such reports.
constexpr std::size_t kMaxReportBytes = 1024;
constexpr std::size_t kMaxLineLength = 64 + 3 * kMaxReportBytes;

// The next line of in without its end, in line; false at the end of in. A line longer than
// kMaxLineLength is cut there and longLine set, so that no file makes the reader hold more.
bool NextLine(std::istream& in, std::string& line, bool& longLine) {
    line.clear();
    for (int c = in.get(); c != std::char_traits<char>::eof(); c = in.get()) {
        if (c == '\n') {
            return true;
        }
        if (line.size() == kMaxLineLength) {
            longLine = true;
            return true;
        }
        line.push_back(static_cast<char>(c));
    }
    return !line.empty();
}

std::vector<std::string> Words(const std::string& line) {
    std::istringstream stream(line);
    std::vector<std::string> words;
    for (std::string word; stream >> word;) {
        words.push_back(word);
    }
    return words;
}

template <typename T>
std::optional<T> Parse(const std::string& text, int base) {
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// The command of a report the host sent; None for a device's answer.
family::CommandKind CommandOf(const LoggedReport& report) {
    return report.out ? family::CommandOf(report.bytes) : family::CommandKind::None;
}

// words: "MS DEVICE VVVV:PPPP IN n OUT m".
std::optional<LoggedDevice> DeviceLine(const std::vector<std::string>& words) {
    if (words.size() != 7 || words[2].size() != 9 || words[2][4] != ':' || words[3] != "IN" ||
        words[5] != "OUT") {
        return std::nullopt;
    }
    const auto vendor = Parse<std::uint16_t>(words[2].substr(0, 4), 16);
    const auto product = Parse<std::uint16_t>(words[2].substr(5), 16);
    const auto in = Parse<std::uint16_t>(words[4], 10);
    const auto out = Parse<std::uint16_t>(words[6], 10);
    if (!vendor || !product || !in || !out || *in > kMaxReportBytes || *out > kMaxReportBytes) {
        return std::nullopt;
    }
    LoggedDevice device;
    device.vendorId = *vendor;
    device.productId = *product;
    device.caps.inputReportByteLength = *in;
    device.caps.outputReportByteLength = *out;
    return device;
}

// words: "MS OUT|IN XX XX ...".
std::optional<std::vector<std::uint8_t>> ReportBytes(const std::vector<std::string>& words) {
    if (words.size() < 3 || words.size() - 2 > kMaxReportBytes) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 2; i < words.size(); ++i) {
        const auto byte = words[i].size() == 2 ? Parse<std::uint8_t>(words[i], 16) : std::nullopt;
        if (!byte) {
            return std::nullopt;
        }
        bytes.push_back(*byte);
    }
    return bytes;
}

// The application model whose identity the log's first version reply gives, for a log without
// DEVICE lines; 0 when none does.
std::uint16_t ModelOfIdentity(const std::vector<LoggedReport>& reports) {
    for (const LoggedReport& report : reports) {
        const auto reply = report.out ? std::nullopt : family::DecodeAppVersionReply(report.bytes);
        if (reply) {
            // The model's name, the first four identity bytes, is what tells.
            for (const family::Model& model : family::kModels) {
                const auto identity = family::ModelIdentity(model.productId);
                if (model.productId != family::kBootLoaderProductId &&
                    std::equal(identity.begin(), identity.begin() + 4, reply->identity.begin())) {
                    return model.productId;
                }
            }
            return 0;
        }
    }
    return 0;
}

bool IsBootLoaderCommand(const LoggedReport& report) {
    using enum family::CommandKind;
    const family::CommandKind command = CommandOf(report);
    return command == EraseStart || command == EraseStatus || command == WriteRecord ||
           command == Run || command == BootVersion;
}

// A log without DEVICE lines: a new appearance wherever a report's length differs from the
// last one's in the same direction. An appearance that sends the boot loader's commands is the
// boot loader; the others are the application of the model its identity bytes name.
bool SplitByLength(std::vector<LoggedReport> reports, LoggedSession& session, std::string& error) {
    std::vector<LoggedDevice>& devices = session.devices;
    for (LoggedReport& report : reports) {
        const auto length = static_cast<std::uint16_t>(report.bytes.size());
        if (!devices.empty()) {
            const HidCaps& caps = devices.back().caps;
            const std::uint16_t known =
                report.out ? caps.outputReportByteLength : caps.inputReportByteLength;
            if (known != 0 && known != length) {
                devices.emplace_back();
            }
        } else {
            devices.emplace_back();
        }
        LoggedDevice& device = devices.back();
        if (device.reports.empty()) {
            device.line = report.line;
            device.ms = report.ms;
        }
        (report.out ? device.caps.outputReportByteLength : device.caps.inputReportByteLength) =
            length;
        device.reports.push_back(std::move(report));
    }
    std::uint16_t application = 0;
    for (const LoggedDevice& device : devices) {
        if (application == 0) {
            application = ModelOfIdentity(device.reports);
        }
    }
    for (LoggedDevice& device : devices) {
        HidCaps& caps = device.caps;
        caps.inputReportByteLength = caps.inputReportByteLength != 0 ? caps.inputReportByteLength
                                                                     : caps.outputReportByteLength;
        caps.outputReportByteLength = caps.outputReportByteLength != 0 ? caps.outputReportByteLength
                                                                       : caps.inputReportByteLength;
        device.vendorId = family::kVendorId;
        const bool bootLoader =
            std::any_of(device.reports.begin(), device.reports.end(), IsBootLoaderCommand);
        device.productId = bootLoader ? family::kBootLoaderProductId : application;
        if (device.productId == 0) {
            error = "line " + std::to_string(device.line) +
                    ": the log names no device (it has no DEVICE lines) and the identity bytes "
                    "it holds name no model";
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<LoggedSession> ReadReportLog(std::istream& in, std::string& error) {
    LoggedSession session;
    std::vector<LoggedReport> reports;  // of a log without DEVICE lines
    bool deviceLines = false;
    std::uint32_t lastMs = 0;
    std::string line;
    std::size_t number = 0;
    const auto fail = [&](const std::string& why) {
        error = "line " + std::to_string(number) + ": " + why;
        return std::nullopt;
    };
    for (bool longLine = false; NextLine(in, line, longLine);) {
        ++number;
        if (longLine) {
            return fail("longer than " + std::to_string(kMaxLineLength) +
                        " characters, more than a report log line holds");
        }
        const std::vector<std::string> words = Words(line);
        if (words.empty()) {
            continue;
        }
        const std::optional<std::uint32_t> ms =
            words[0].size() <= 10 ? Parse<std::uint32_t>(words[0], 10) : std::nullopt;
        if (!ms || words.size() < 2) {
            return fail("not a line of a report log: '" + line.substr(0, 60) + "'");
        }
        if (*ms < lastMs) {
            return fail("the time goes back, from " + std::to_string(lastMs) + " ms to " +
                        std::to_string(*ms) + " ms");
        }
        lastMs = *ms;
        if (words[1] == "DEVICE") {
            std::optional<LoggedDevice> device = DeviceLine(words);
            if (!device) {
                return fail("expected DEVICE VVVV:PPPP IN n OUT m: '" + line.substr(0, 60) + "'");
            }
            if (!reports.empty()) {
                return fail("a DEVICE line after reports without one");
            }
            deviceLines = true;
            device->line = number;
            device->ms = *ms;
            // The device opened again without leaving the bus is the same appearance.
            if (session.devices.empty() || session.devices.back().productId != device->productId) {
                session.devices.push_back(std::move(*device));
            } else {
                session.devices.back().caps = device->caps;
            }
            continue;
        }
        if (words[1] != "OUT" && words[1] != "IN") {
            return fail("expected DEVICE, OUT or IN after the time: '" + line.substr(0, 60) + "'");
        }
        std::optional<std::vector<std::uint8_t>> bytes = ReportBytes(words);
        if (!bytes) {
            return fail("a report is 1 to " + std::to_string(kMaxReportBytes) +
                        " bytes, each two hex digits: '" + line.substr(0, 60) + "'");
        }
        LoggedReport report{number, *ms, words[1] == "OUT", std::move(*bytes)};
        if (deviceLines) {
            session.devices.back().reports.push_back(std::move(report));
        } else {
            reports.push_back(std::move(report));
        }
    }
    session.lines = number;
    if (!deviceLines) {
        if (reports.empty()) {
            error = "the log holds no reports";
            return std::nullopt;
        }
        if (!SplitByLength(std::move(reports), session, error)) {
            return std::nullopt;
        }
    }
    return session;
}

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
        switch (CommandOf(report)) {
            case AppVersion:
                if (const auto fields = family::DecodeAppVersionReply(answer)) {
                    const LogSummary::Version version{reply->line, VersionText(fields->version)};
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
                    summary.bootVersion = LogSummary::Version{
                        reply->line,
                        std::string{(*digits)[0], '.', (*digits)[1], '.', (*digits)[2]}};
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

}  // namespace torvane
