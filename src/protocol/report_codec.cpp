#include "protocol/report_codec.h"

#include <algorithm>
#include <cstring>

namespace torvane::family {
namespace {

struct KnownCommand {
    Command bytes;
    CommandKind kind;
};
constexpr KnownCommand kCommands[] = {
    {kAppVersion, CommandKind::AppVersion},
    {kAppVersionFollowUp, CommandKind::AppVersionFollowUp},
    {kBootVersion, CommandKind::BootVersion},
    {kEraseStart, CommandKind::EraseStart},
    {kEraseStatus, CommandKind::EraseStatus},
    {kWriteRecord, CommandKind::WriteRecord},
    {kRun, CommandKind::Run},
};

// Zeroes reply and writes the input report ID, the preamble and the reply code.
void BeginReply(std::span<std::uint8_t> reply, std::uint8_t code) {
    std::fill(reply.begin(), reply.end(), std::uint8_t{0});
    reply[0] = kInputReportId;
    reply[1] = kPreamble0;
    reply[2] = kPreamble1;
    reply[3] = code;
}

// Whether report carries the reply code and reaches end.
bool IsReply(std::span<const std::uint8_t> report, std::uint8_t code, std::size_t end) {
    return report.size() >= end && report[3] == code;
}

}  // namespace

bool Framed(std::span<const std::uint8_t> report) {
    return report.size() >= kHeaderSize && report[0] == kOutputReportId &&
           report[1] == kPreamble0 && report[2] == kPreamble1;
}

CommandKind CommandOf(std::span<const std::uint8_t> report) {
    if (report.size() < kHeaderSize) {
        return CommandKind::None;
    }
    if (report[3] == kEnterDownload.command) {
        return CommandKind::EnterDownload;
    }
    for (const KnownCommand& known : kCommands) {
        if (report[3] == known.bytes.command && report[4] == known.bytes.subcommand) {
            return known.kind;
        }
    }
    return CommandKind::None;
}

std::optional<ImageRecord> RecordOf(std::span<const std::uint8_t> report) {
    if (CommandOf(report) != CommandKind::WriteRecord ||
        report.size() < kHeaderSize + sizeof(ImageRecord)) {
        return std::nullopt;
    }
    ImageRecord record;
    std::memcpy(&record, report.data() + kHeaderSize, sizeof record);
    return record;
}

std::optional<AppVersionReply> DecodeAppVersionReply(std::span<const std::uint8_t> report) {
    if (!IsReply(report, kAppVersionReply, kAppIdentityOffset + kIdentitySize)) {
        return std::nullopt;
    }
    AppVersionReply fields;
    std::copy_n(report.begin() + kAppVersionOffset, fields.version.size(), fields.version.begin());
    std::copy_n(report.begin() + kAppIdentityOffset, kIdentitySize, fields.identity.bytes.begin());
    return fields;
}

std::optional<std::array<char, 3>> DecodeBootVersionReply(std::span<const std::uint8_t> report) {
    std::array<char, 3> digits{};
    if (!IsReply(report, kBootVersionReply, kBootVersionOffset + digits.size())) {
        return std::nullopt;
    }
    std::copy_n(report.begin() + kBootVersionOffset, digits.size(), digits.begin());
    return digits;
}

EraseStatusReply DecodeEraseStatusReply(std::span<const std::uint8_t> report) {
    if (report.size() < kHeaderSize) {
        return {};
    }
    return {report[3] == kEraseStatusReply, report[4] == kEraseDone};
}

void BuildAppVersionReply(std::span<std::uint8_t> reply, const AppVersionReply& fields) {
    BeginReply(reply, kAppVersionReply);
    std::copy(fields.version.begin(), fields.version.end(), reply.begin() + kAppVersionOffset);
    std::copy(fields.identity.bytes.begin(), fields.identity.bytes.end(),
              reply.begin() + kAppIdentityOffset);
}

void BuildBootVersionReply(std::span<std::uint8_t> reply, const std::array<char, 3>& digits) {
    BeginReply(reply, kBootVersionReply);
    std::copy(digits.begin(), digits.end(), reply.begin() + kBootVersionOffset);
}

void BuildEraseStatusReply(std::span<std::uint8_t> reply, bool done) {
    BeginReply(reply, done ? kEraseStatusReply : 0);
    reply[4] = done ? kEraseDone : 0;
}

void BuildWriteEcho(std::span<std::uint8_t> reply, const ImageRecord& echoed) {
    BeginReply(reply, kWriteEchoReply);
    reply[4] = kWriteEchoStatus;
    reply[kWriteEchoAddressOffset] = echoed.addressLow;
    reply[kWriteEchoAddressOffset + 1] = echoed.addressHigh;
    const std::size_t n = std::min<std::size_t>(echoed.length, kRecordDataSize);
    std::copy_n(echoed.data.begin(), n, reply.begin() + kWriteEchoDataOffset);
}

}  // namespace torvane::family
