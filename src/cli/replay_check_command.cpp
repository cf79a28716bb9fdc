#include "cli/replay_check_command.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_options.h"
#include "cli/json_text.h"
#include "cli/replay_summary.h"
#include "protocol/family.h"
#include "protocol/report_log.h"

namespace torvane::cli {
namespace {

std::string At(std::size_t line) {
    return "line " + std::to_string(line);
}

std::string Version(const std::optional<LogSummary::Version>& version, const char* none) {
    return version ? version->text + " (" + At(version->line) + ")" : none;
}

nlohmann::json JsonVersion(const std::optional<LogSummary::Version>& version) {
    return version ? nlohmann::json{{"version", version->text}, {"line", version->line}}
                   : nlohmann::json();
}

nlohmann::json JsonLine(const std::optional<std::size_t>& line) {
    return line ? nlohmann::json(*line) : nlohmann::json();
}

}  // namespace

int RunReplayCheck(const std::string& path, std::ostream& out, std::ostream& err, bool json) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        err << "torvane-cli: cannot read '" << path << "': " << std::strerror(errno) << '\n';
        return kExitFailed;
    }
    std::string error;
    const std::optional<LoggedSession> session = ReadReportLog(in, error);
    if (!session) {
        err << "torvane-cli: '" << path << "' is not a whole report log: " << error << '\n';
        return kExitFailed;
    }
    const LogSummary summary = Summarize(*session);
    std::vector<std::string> appearances;
    for (const LoggedDevice& device : session->devices) {
        appearances.push_back(std::string(family::ListText(device.vendorId, device.productId)) +
                              " at " + At(device.line));
    }
    const std::string identity = summary.identity ? HexBytes(summary.identity->bytes) : "";
    if (json) {
        out << JsonText({{"event", "replay-check"},
                         {"log", path},
                         {"lines", session->lines},
                         {"seconds", summary.durationMs / 1000.0},
                         {"model", summary.model},
                         {"devices", appearances},
                         {"versionBefore", JsonVersion(summary.versionBefore)},
                         {"identity", identity},
                         {"bootVersion", JsonVersion(summary.bootVersion)},
                         {"switchLine", JsonLine(summary.switchLine)},
                         {"eraseLine", JsonLine(summary.eraseLine)},
                         {"eraseConfirmed", summary.eraseConfirmed},
                         {"recordsWritten", summary.recordsWritten},
                         {"runLine", JsonLine(summary.runLine)},
                         {"versionAfter", JsonVersion(summary.versionAfter)},
                         {"firstFailure", summary.firstFailure},
                         {"end", summary.end},
                         {"cause", session->cause}})
            << '\n';
        return kExitOk;
    }
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", summary.durationMs / 1000.0);
    out << "log: " << path << ", " << session->lines << " lines over " << seconds << " s\n";
    out << "device: " << summary.model << ", version "
        << Version(summary.versionBefore, "not asked");
    if (!identity.empty()) {
        out << ", identity " << identity;
    }
    out << '\n';
    out << "on the bus:";
    for (std::size_t i = 0; i < appearances.size(); ++i) {
        out << (i == 0 ? " " : ", then ") << appearances[i];
    }
    out << '\n';
    out << "switch to the boot loader: "
        << (summary.switchLine ? At(*summary.switchLine) : std::string("none")) << '\n';
    out << "boot loader version: " << Version(summary.bootVersion, "not asked") << '\n';
    out << "erase: "
        << (!summary.eraseLine       ? std::string("none")
            : summary.eraseConfirmed ? "confirmed (command at " + At(*summary.eraseLine) + ")"
                                     : "not confirmed (command at " + At(*summary.eraseLine) + ")")
        << '\n';
    out << "records written: " << summary.recordsWritten << '\n';
    out << "run: " << (summary.runLine ? At(*summary.runLine) : std::string("none")) << '\n';
    out << "version after: " << Version(summary.versionAfter, "none") << '\n';
    out << "first failure: " << (summary.firstFailure.empty() ? "none" : summary.firstFailure)
        << '\n';
    out << "end: " << summary.end << '\n';
    if (!session->cause.empty()) {
        out << "cause: " << session->cause << '\n';
    }
    return kExitOk;
}

}  // namespace torvane::cli
