#include "protocol/device_session.h"
#include "protocol/fixed_texts.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace torvane {

DeviceSession::DeviceSession(HidClass& hid, Clock& clock, MessageSink& messages)
    : hid_(hid), clock_(clock), messages_(messages) {}

void DeviceSession::BeginReport(std::span<std::uint8_t> buffer, family::Command command) {
    std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
    buffer[0] = family::kOutputReportId;
    buffer[1] = family::kPreamble0;
    buffer[2] = family::kPreamble1;
    buffer[3] = command.command;
    buffer[4] = command.subcommand;
}

void DeviceSession::Send(std::span<const std::uint8_t> buffer) {
    std::vector<std::uint8_t> report(sessionCaps.outputReportByteLength, 0);
    const std::size_t kept = std::min(report.size(), buffer.size());
    std::copy_n(buffer.begin(), kept, report.begin());
    SystemError error;
    if (!hid_.SetOutputReport(sessionHandle, report, error)) {
        TransferFailed("the output report was refused", error);
    }
}

void DeviceSession::TransferFailed(const char* what, const SystemError& error) {
    deviceLeft_ = deviceLeft_ || error.gone;
    if (transferFailure_.empty()) {
        transferFailure_ = std::string(error.gone ? "the device left the bus" : what) + " (" +
                           (error.text.empty() ? "no error code" : error.text) + ")";
    }
}

bool DeviceSession::Failed(std::string why) {
    failure_ = transferFailure_.empty() ? std::move(why) : transferFailure_;
    return false;
}

void DeviceSession::Receive(std::span<std::uint8_t> buffer) {
    std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
    buffer[0] = family::kInputReportId;
    std::vector<std::uint8_t> report(sessionCaps.inputReportByteLength, 0);
    if (report.empty()) {
        return;
    }
    report[0] = family::kInputReportId;
    SystemError error;
    if (!hid_.GetInputReport(sessionHandle, report, error)) {
        TransferFailed("no input report came", error);
        return;
    }
    const std::size_t kept = std::min(report.size(), buffer.size());
    std::copy_n(report.begin(), kept, buffer.begin());
}

bool DeviceSession::EnterDownloadMode() {
    std::lock_guard lock(reportLock_);
    if (bootMode == 0) {
        BeginReport(bootOutputReport, family::kEnterDownload);
        Send(bootOutputReport);
        clock_.Sleep(family::kEnterDownloadWaitMs);
    }
    bootMode = 1;
    return true;
}

bool DeviceSession::EraseFirmware() {
    {
        std::lock_guard lock(reportLock_);
        transferFailure_.clear();
        deviceLeft_ = false;
        BeginReport(bootOutputReport, family::kEraseStart);
        Send(bootOutputReport);
        clock_.Sleep(family::kEraseStartWaitMs);
        int polls = 0;
        while (polls < family::kErasePolls) {
            BeginReport(bootOutputReport, family::kEraseStatus);
            Send(bootOutputReport);
            clock_.Sleep(family::kErasePollWaitMs);
            Receive(bootInputReport);
            ++polls;
            if (bootInputReport[3] == family::kEraseStatusReply ||
                bootInputReport[4] == family::kEraseDone) {
                break;
            }
        }
        if (bootInputReport[3] == family::kEraseStatusReply &&
            bootInputReport[4] == family::kEraseDone) {
            return true;
        }
        Failed("no confirmation after " + std::to_string(polls) +
               (polls == 1 ? " poll" : " polls"));
    }
    // Shown after the lock is left, so that a modal message never holds up another exchange.
    messages_.ShowMessage(texts::kEraseFailure);
    return false;
}

std::array<std::uint8_t, family::kBootReportSize> WriteEcho(const ImageRecord& record) {
    std::array<std::uint8_t, family::kBootReportSize> expected{};
    expected[0] = family::kInputReportId;
    expected[1] = family::kPreamble0;
    expected[2] = family::kPreamble1;
    expected[3] = family::kWriteEchoReply;
    expected[4] = family::kWriteEchoStatus;
    expected[family::kWriteEchoAddressOffset] = record.addressLow;
    expected[family::kWriteEchoAddressOffset + 1] = record.addressHigh;
    const std::size_t n = std::min<std::size_t>(record.length, kRecordDataSize);
    std::copy_n(record.data.begin(), n, expected.begin() + family::kWriteEchoDataOffset);
    return expected;
}

bool DeviceSession::WriteRecord(ImageRecord record) {
    std::lock_guard lock(reportLock_);
    transferFailure_.clear();
    deviceLeft_ = false;
    std::fill(bootOutputReport.begin(), bootOutputReport.end(), std::uint8_t{0xFF});
    BeginReport(std::span(bootOutputReport).first(family::kHeaderSize), family::kWriteRecord);
    std::memcpy(bootOutputReport.data() + family::kHeaderSize, &record, sizeof record);
    Send(bootOutputReport);

    const std::array<std::uint8_t, family::kBootReportSize> expected = WriteEcho(record);
    clock_.Sleep(family::kWriteEchoWaitMs);
    Receive(bootInputReport);
    const auto differs = std::mismatch(expected.begin(), expected.end(), bootInputReport.begin());
    if (differs.first == expected.end()) {
        return true;
    }
    char why[80];
    std::snprintf(why, sizeof why, "the echo differs at byte %d (0x%02X, not 0x%02X)",
                  static_cast<int>(differs.first - expected.begin()), *differs.second,
                  *differs.first);
    return Failed(why);
}

bool DeviceSession::RunFirmware() {
    std::lock_guard lock(reportLock_);
    transferFailure_.clear();
    deviceLeft_ = false;
    BeginReport(bootOutputReport, family::kRun);
    Send(bootOutputReport);
    return transferFailure_.empty() || Failed({});
}

bool DeviceSession::QueryFirmwareVersion(std::array<std::uint8_t, 4>& version) {
    std::lock_guard lock(reportLock_);
    if (bootMode != 0) {
        for (int attempt = 0; attempt < family::kBootVersionTries; ++attempt) {
            BeginReport(bootOutputReport, family::kBootVersion);
            Send(bootOutputReport);
            Receive(bootInputReport);
            if (bootInputReport[3] == family::kBootVersionReply) {
                std::copy_n(bootInputReport.begin() + family::kBootVersionOffset, 3,
                            version.begin());
                return true;
            }
        }
        return false;
    }
    BeginReport(appOutputReport, family::kAppVersion);
    Send(appOutputReport);
    Receive(appInputReport);
    if (appInputReport[4] == family::kFollowUpVersionMajor) {
        BeginReport(std::span(appOutputReport).first(family::kHeaderSize),
                    family::kAppVersionFollowUp);
        Send(appOutputReport);
    }
    if (appInputReport[3] != family::kAppVersionReply) {
        return false;
    }
    std::copy_n(appInputReport.begin() + family::kAppVersionOffset, 4, version.begin());
    std::copy_n(appInputReport.begin() + family::kAppIdentityOffset, deviceIdentity.bytes.size(),
                deviceIdentity.bytes.begin());
    return true;
}

}  // namespace torvane
