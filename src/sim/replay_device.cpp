#include "sim/replay_device.h"

#include <algorithm>

#include "protocol/family.h"
#include "protocol/report_codec.h"
#include "protocol/report_log.h"
#include "sim/family_device.h"

namespace torvane::sim {
namespace {

std::string Line(const LoggedReport& report) {
    return "line " + std::to_string(report.line);
}

std::string Report(const char* direction, std::span<const std::uint8_t> bytes) {
    return std::string(direction) + " " + HexBytes(bytes);
}

// A reply may be read this much sooner after its report than the log's host got it: the log
// times the end of each read, which the host's own latency delays (45 ms for an echo that the
// device had after 10 ms, seen in the VM test), and the two hosts' clocks tick differently.
std::uint32_t Slack(std::uint32_t delay) {
    return std::max<std::uint32_t>(100, delay / 2);
}

}  // namespace

ReplayDevice::ReplayDevice(std::shared_ptr<const ReplaySource> source, std::string locationPath,
                           std::uint32_t start)
    : source_(std::move(source)),
      location_(std::move(locationPath)),
      lastReportAt_(start),
      flash_(kFlashSize, 0xFF) {
    Consumed(start);
}

const LoggedReport* ReplayDevice::Next() const {
    const std::vector<LoggedReport>& reports = Shown().reports;
    return report_ < reports.size() ? &reports[report_] : nullptr;
}

// After each report, and at the start: once the device shown has no report left and the log
// has another device, this one leaves the bus to come back as that one. It is back by the time
// the host first looks for it (the wait after a switch) unless the log shows it sooner: the
// log's time is when its host found the device, which that host's own scans made later.
void ReplayDevice::Consumed(std::uint32_t now) {
    if (Next() != nullptr || device_ + 1 >= source_->session.devices.size()) {
        return;
    }
    const LoggedDevice& next = source_->session.devices[device_ + 1];
    const std::uint32_t left = Shown().reports.empty() ? Shown().ms : Shown().reports.back().ms;
    away_ = true;
    backAt_ = now + std::min(next.ms - left, family::kEnterDownloadWaitMs);
}

void ReplayDevice::Stop(std::string why) {
    if (stopped_.empty()) {
        stopped_ = "replay of '" + source_->name + "' stopped: " + std::move(why);
    }
}

std::optional<SimInterface> ReplayDevice::Interface(std::uint32_t now) {
    if (away_ && Reached(now, backAt_)) {
        away_ = false;
        ++device_;
        report_ = 0;
        ++generation_;
        Consumed(now);
    }
    if (away_) {
        return std::nullopt;
    }
    SimInterface shown;
    shown.classGuid = kHidClassGuid;
    shown.locationPath = location_;
    shown.vendorId = Shown().vendorId;
    shown.productId = Shown().productId;
    shown.versionNumber = 0x0100;
    shown.serial = Shown().serial;
    shown.caps = FamilyDeviceConfig{}.appCaps;
    shown.caps.inputReportByteLength = Shown().caps.inputReportByteLength;
    shown.caps.outputReportByteLength = Shown().caps.outputReportByteLength;
    shown.generation = generation_;
    return shown;
}

bool ReplayDevice::OutputReport(std::uint32_t now, std::span<const std::uint8_t> report) {
    if (!stopped_.empty()) {
        return false;
    }
    const LoggedReport* next = Next();
    const std::string sent = "the program sent " + Report("OUT", report);
    if (next == nullptr) {
        Stop("the log ends at line " + std::to_string(source_->session.lines) + "; " + sent);
        return false;
    }
    if (!next->out) {
        Stop(Line(*next) + ": the log has the device's " + Report("IN", next->bytes) +
             " next, where " + sent);
        return false;
    }
    if (!std::equal(report.begin(), report.end(), next->bytes.begin(), next->bytes.end())) {
        const std::size_t at = static_cast<std::size_t>(
            std::mismatch(report.begin(), report.end(), next->bytes.begin(), next->bytes.end())
                .first -
            report.begin());
        Stop(Line(*next) + ": expected " + Report("OUT", next->bytes) + "; " + sent +
             " (they differ from byte " + std::to_string(at) + ")");
        return false;
    }
    if (family::CommandOf(report) == family::CommandKind::EraseStart) {
        std::fill(flash_.begin(), flash_.end(), std::uint8_t{0xFF});
    } else if (const std::optional<ImageRecord> record = family::RecordOf(report)) {
        const std::size_t n = std::min<std::size_t>(record->length, kRecordDataSize);
        const std::size_t room = flash_.size() - record->Address();
        std::copy_n(record->data.begin(), std::min(n, room), flash_.begin() + record->Address());
    }
    ++report_;
    lastReportAt_ = now;
    Consumed(now);
    return true;
}

bool ReplayDevice::InputReport(std::uint32_t now, std::span<std::uint8_t> report) {
    const LoggedReport* next = stopped_.empty() ? Next() : nullptr;
    // The log holds no answer here: the log's device gave none either.
    if (next == nullptr || next->out) {
        return false;
    }
    const std::uint32_t previous = report_ > 0 ? Shown().reports[report_ - 1].ms : next->ms;
    const std::uint32_t delay = next->ms - previous;
    const std::uint32_t waited = now - lastReportAt_;
    if (waited + Slack(delay) < delay) {
        Stop(Line(*next) + ": the program read " + std::to_string(waited) +
             " ms after the report before; the log's device answered after " +
             std::to_string(delay) + " ms");
        return false;
    }
    if (report.size() != next->bytes.size()) {
        Stop(Line(*next) + ": the program read " + std::to_string(report.size()) +
             " bytes; the log's device answered " + std::to_string(next->bytes.size()));
        return false;
    }
    std::copy(next->bytes.begin(), next->bytes.end(), report.begin());
    ++report_;
    lastReportAt_ = now;
    Consumed(now);
    return true;
}

std::string ReplayDevice::Problem() const {
    std::lock_guard lock(mutex());
    if (!stopped_.empty()) {
        return stopped_;
    }
    const std::vector<LoggedDevice>& devices = source_->session.devices;
    const LoggedReport* left = Next();
    for (std::size_t d = device_ + 1; left == nullptr && d < devices.size(); ++d) {
        left = devices[d].reports.empty() ? nullptr : &devices[d].reports.front();
    }
    if (left == nullptr) {
        return {};
    }
    return "replay of '" + source_->name + "' did not reach the log's end: the program sent " +
           "nothing more from line " + std::to_string(left->line);
}

std::vector<std::uint8_t> ReplayDevice::flash() const {
    std::lock_guard lock(mutex());
    return flash_;
}

}  // namespace torvane::sim
