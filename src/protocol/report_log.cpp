#include "protocol/report_log.h"

#include <string>

namespace torvane {

std::string DevicePath(std::string pattern, std::size_t index) {
    const std::string digits = std::to_string(index);
    for (std::size_t at = pattern.find(kDeviceIndexField); at != std::string::npos;
         at = pattern.find(kDeviceIndexField, at + digits.size())) {
        pattern.replace(at, kDeviceIndexField.size(), digits);
    }
    return pattern;
}

std::string HexDigits(unsigned value, int digits) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text(static_cast<std::size_t>(digits), '0');
    for (int i = digits - 1; i >= 0; --i, value >>= 4) {
        text[static_cast<std::size_t>(i)] = kDigits[value & 0x0F];
    }
    return text;
}

std::string HexBytes(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (const std::uint8_t byte : bytes) {
        if (!text.empty()) {
            text += ' ';
        }
        text += HexDigits(byte, 2);
    }
    return text;
}

ReportLog::ReportLog(HidClass& inner, Clock& clock, std::ostream& out)
    : inner_(inner), clock_(clock), out_(out), start_(clock.TickCount()) {}

Guid ReportLog::HidGuid() {
    return inner_.HidGuid();
}

bool ReportLog::GetAttributes(DeviceHandle handle, HidAttributes& attributes) {
    return inner_.GetAttributes(handle, attributes);
}

// The capabilities are asked for each time a device is opened: the log names the device there,
// so that a replay knows which device answered which reports.
bool ReportLog::GetCaps(DeviceHandle handle, HidCaps& caps) {
    if (!inner_.GetCaps(handle, caps)) {
        return false;
    }
    HidAttributes attributes;
    if (inner_.GetAttributes(handle, attributes)) {
        const std::string ids =
            HexDigits(attributes.vendorId, 4) + ":" + HexDigits(attributes.productId, 4);
        out_ << std::to_string(ElapsedMs(start_, clock_.TickCount())) + " DEVICE " + ids + " IN " +
                    std::to_string(caps.inputReportByteLength) + " OUT " +
                    std::to_string(caps.outputReportByteLength) + "\n"
             << std::flush;
    }
    return true;
}

bool ReportLog::SetOutputReport(DeviceHandle handle, std::span<const std::uint8_t> report,
                                SystemError& error) {
    const bool sent = inner_.SetOutputReport(handle, report, error);
    if (sent) {
        Write("OUT", report);
    }
    return sent;
}

bool ReportLog::GetInputReport(DeviceHandle handle, std::span<std::uint8_t> report,
                               SystemError& error) {
    const bool received = inner_.GetInputReport(handle, report, error);
    if (received) {
        Write("IN", report);
    }
    return received;
}

void ReportLog::Write(const char* direction, std::span<const std::uint8_t> report) {
    std::string line = std::to_string(ElapsedMs(start_, clock_.TickCount())) + " " + direction;
    if (!report.empty()) {
        line += " " + HexBytes(report);
    }
    out_ << line + "\n" << std::flush;
}

}  // namespace torvane
