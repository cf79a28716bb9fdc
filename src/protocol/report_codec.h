// The family's reports read and written: which command an output report carries and the record
// a write carries; each reply a device gives, built and decoded. The report log's reader and the
// simulated devices read and write reports through these.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "firmware/image_record.h"
#include "protocol/family.h"

namespace torvane::family {

enum class CommandKind {
    None,  // none of the family's commands, or a report too short to carry one
    // The application's.
    EnterDownload,
    AppVersion,
    AppVersionFollowUp,
    // The boot loader's.
    BootVersion,
    EraseStart,
    EraseStatus,
    WriteRecord,
    Run,
};

// True when an output report starts with the output report ID and the preamble; a device drops
// any other report.
bool Framed(std::span<const std::uint8_t> report);

// The command in bytes 3 and 4 of an output report, whatever its framing. The switch is known by
// its command byte alone: the application takes it with any subcommand.
CommandKind CommandOf(std::span<const std::uint8_t> report);

// The record of a write-record report; nullopt for any other command or a report too short to
// carry a whole record.
std::optional<ImageRecord> RecordOf(std::span<const std::uint8_t> report);

// An application's version reply: its version bytes and its identity.
struct AppVersionReply {
    std::array<std::uint8_t, 4> version{};
    Identity identity{};
};

// An erase status reply: its two bytes, each of which a busy answer leaves out.
struct EraseStatusReply {
    bool replyCode = false;  // the erase status reply code
    bool done = false;       // the done flag
};

// What an input report answers; nullopt (or two false bytes) when it is not that reply or too
// short to hold it.
std::optional<AppVersionReply> DecodeAppVersionReply(std::span<const std::uint8_t> report);
std::optional<std::array<char, 3>> DecodeBootVersionReply(std::span<const std::uint8_t> report);
EraseStatusReply DecodeEraseStatusReply(std::span<const std::uint8_t> report);

// Each writes its reply over the whole of `reply` (at least kBootReportSize bytes): the input
// report ID, the preamble, its reply code and fields, zeros after them.
void BuildAppVersionReply(std::span<std::uint8_t> reply, const AppVersionReply& fields);
void BuildBootVersionReply(std::span<std::uint8_t> reply, const std::array<char, 3>& digits);
// done: the reply code and the done flag; busy: the framing alone.
void BuildEraseStatusReply(std::span<std::uint8_t> reply, bool done);
// The echo of a write: the record's address and its first `length` data bytes (at most 32).
void BuildWriteEcho(std::span<std::uint8_t> reply, const ImageRecord& echoed);

}  // namespace torvane::family
