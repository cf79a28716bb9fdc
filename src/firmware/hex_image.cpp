#include "firmware/hex_image.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>
#include <vector>

#include "firmware/image_layout.h"

namespace torvane {
namespace {

constexpr int kEndOfFileType = 0x01;
constexpr int kExtendedSegmentType = 0x02;
constexpr int kExtendedLinearType = 0x04;
// Data bytes of an extended address record: its 16-bit base.
constexpr int kExtendedAddressSize = 2;
// The longest record is ":" + 2 + 4 + 2 + 64 + 2 characters; longer lines are refused
// without holding more than this.
constexpr std::size_t kMaxLineLength = 256;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// Two hex characters as one byte; text has been checked for hex digits before.
std::uint8_t HexPair(std::string_view text, std::size_t pos) {
    const int high = HexDigit(text[pos]);
    const int low = HexDigit(text[pos + 1]);
    if (high < 0 || low < 0) {
        return 0;
    }
    return static_cast<std::uint8_t>(high << 4 | low);
}

// One record line, checked as a whole.
struct RecordLine {
    std::int64_t lineNumber;
    std::string text;  // after ':'
    int byteCount;
    int type;
};

struct LineReader {
    std::FILE* stream;
    std::int64_t lineNumber = 0;

    // Next line without its LF and a CR before it; nullopt at end of file. A line longer than
    // kMaxLineLength is cut there and flagged.
    std::optional<std::string> Next(bool& tooLong) {
        std::string line;
        tooLong = false;
        int c = std::fgetc(stream);
        if (c == EOF) {
            return std::nullopt;
        }
        ++lineNumber;
        while (c != EOF && c != '\n') {
            if (line.size() < kMaxLineLength) {
                line.push_back(static_cast<char>(c));
            } else {
                tooLong = true;
            }
            c = std::fgetc(stream);
        }
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        return line;
    }
};

std::string Hex2(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
    return text;
}

std::string Hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value & 0xFFFFu);
    return text;
}

// Checks one non-blank line as a whole record; empty result when it is one.
std::string CheckRecordLine(const std::string& line, RecordLine& record) {
    if (line[0] != ':') {
        return "does not start with ':'";
    }
    const std::string_view body = std::string_view(line).substr(1);
    for (const char c : body) {
        if (HexDigit(c) < 0) {
            const auto code = static_cast<unsigned char>(c);
            return code >= 0x20 && code < 0x7F
                       ? std::string("character '") + c + "' is not a hex digit"
                       : "character " + Hex2(code) + " is not a hex digit";
        }
    }
    if (body.size() < 10) {
        return "record too short";
    }
    const int n = HexPair(body, 0);
    if (n > static_cast<int>(kRecordDataSize)) {
        return "byte count " + std::to_string(n) + " exceeds " + std::to_string(kRecordDataSize);
    }
    const std::size_t expected = 2 + 2 * static_cast<std::size_t>(n) + 8;
    if (body.size() != expected) {
        return "length does not match byte count " + std::to_string(n) + " (" +
               std::to_string(expected) + " hex digits expected, " + std::to_string(body.size()) +
               " found)";
    }
    unsigned sum = 0;
    for (std::size_t pos = 0; pos < body.size(); pos += 2) {
        sum += HexPair(body, pos);
    }
    if ((sum & 0xFFu) != 0) {
        const unsigned stated = HexPair(body, body.size() - 2);
        return "checksum " + Hex2(stated) + " does not match, expected " + Hex2(stated - sum);
    }
    const int type = HexPair(body, 6);
    if (type == kExtendedSegmentType || type == kExtendedLinearType) {
        // The base as the file gives it, every data digit: no width can drop a nonzero byte.
        const std::string_view base = body.substr(8, 2 * static_cast<std::size_t>(n));
        if (base.find_first_not_of('0') != std::string_view::npos) {
            std::string digits(base);
            for (char& c : digits) {
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            }
            return "extended address record with nonzero base 0x" + digits +
                   " (only 16-bit addresses are supported)";
        }
        if (n != kExtendedAddressSize) {
            return "extended address record with byte count " + std::to_string(n) + " (" +
                   std::to_string(kExtendedAddressSize) + " expected)";
        }
    }
    record.text = std::string(body.substr(2));
    record.byteCount = n;
    record.type = type;
    return {};
}

bool Refuse(HexLoadError* error, std::int64_t line, std::string reason) {
    if (error != nullptr) {
        error->line = line;
        error->reason = std::move(reason);
    }
    return false;
}

}  // namespace

std::string HexLoadError::Describe() const {
    return line > 0 ? "line " + std::to_string(line) + ": " + reason : reason;
}

std::int32_t ParseHexLine(const LoadRules& rules, std::string_view text, int n, std::int32_t index,
                          std::span<ImageRecord> records) {
    if (index < 0 || static_cast<std::size_t>(index) >= records.size() || n < 0 ||
        n > static_cast<int>(kRecordDataSize)) {
        return kAddressRefused;
    }
    ImageRecord& record = records[static_cast<std::size_t>(index)];
    record.length = static_cast<std::uint8_t>(n);
    record.data.fill(0xFF);

    // Pairs in order: address high, address low, type (01 ends the record), then data bytes.
    // The conversion ends after the n-th data byte; with n = 0 after the address high byte.
    const std::size_t limit = std::min(text.size(), 2 * static_cast<std::size_t>(n) + 8);
    std::size_t pos = 0;
    int pair = 0;
    int stored = 0;
    do {
        if (pos + 2 > limit) {
            break;
        }
        const std::uint8_t value = HexPair(text, pos);
        if (pair == 0) {
            record.addressHigh = value;
        } else if (pair == 1) {
            record.addressLow = value;
        } else if (pair == 2) {
            if (value == kEndOfFileType) {
                break;
            }
        } else {
            record.data[static_cast<std::size_t>(stored++)] = value;
        }
        pos += 2;
        ++pair;
    } while (pos + 2 <= limit && stored < n);

    if (rules.bootMode == 0 && record.Address() == image::kIdentityRecordAddress &&
        !std::equal(rules.deviceIdentity.bytes.begin(), rules.deviceIdentity.bytes.end(),
                    record.data.begin())) {
        return kIdentityMismatch;
    }
    const std::uint8_t h = record.addressHigh;
    if (h == 0x00 || record.addressLow == 0x00 || (h >= 0x20 && h <= 0xEF)) {
        return index;
    }
    return kAddressRefused;
}

bool LoadHexImage(std::FILE* stream, const LoadRules& rules, ImageTable& table,
                  HexLoadError* error) {
    if (stream == nullptr || std::fseek(stream, 0, SEEK_SET) != 0) {
        return Refuse(error, 0, "the file cannot be read");
    }
    std::vector<RecordLine> lines;
    LineReader reader{stream};
    bool tooLong = false;
    while (const std::optional<std::string> line = reader.Next(tooLong)) {
        if (reader.lineNumber > kMaxHexLines) {
            return Refuse(error, reader.lineNumber,
                          "more than " + std::to_string(kMaxHexLines) +
                              " lines, far more than an image for 64 KiB of flash has");
        }
        if (line->empty() && !tooLong) {
            continue;
        }
        if (tooLong) {
            return Refuse(error, reader.lineNumber, "line too long for a record");
        }
        if (!lines.empty() && lines.back().type == kEndOfFileType) {
            return Refuse(error, reader.lineNumber, "record after the end-of-file record");
        }
        RecordLine record{reader.lineNumber, {}, 0, 0};
        if (std::string reason = CheckRecordLine(*line, record); !reason.empty()) {
            return Refuse(error, reader.lineNumber, std::move(reason));
        }
        lines.push_back(std::move(record));
    }
    if (std::ferror(stream)) {
        return Refuse(error, 0, "the file cannot be read");
    }
    if (lines.size() < 2) {
        return Refuse(error, 0, "fewer than two records");
    }
    if (lines.back().type != kEndOfFileType) {
        return Refuse(error, lines.back().lineNumber,
                      "the file does not end with an end-of-file record (type 01)");
    }

    std::vector<ImageRecord> records(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const RecordLine& line = lines[i];
        const auto index = static_cast<std::int32_t>(i);
        const std::int32_t result = ParseHexLine(rules, line.text, line.byteCount, index, records);
        if (result == index) {
            continue;
        }
        table.Clear();
        if (result == kIdentityMismatch) {
            return Refuse(error, line.lineNumber,
                          "identity bytes of the record at 0x2100 differ from the device's");
        }
        return Refuse(error, line.lineNumber,
                      "address " + Hex4(records[i].Address()) + " is outside the accepted ranges");
    }
    table.imageRecords = std::move(records);
    table.imageRecordCount = static_cast<std::int32_t>(lines.size()) - 1;
    return true;
}

std::optional<FirmwareVersion> ImageVersion(const ImageTable& table) {
    constexpr std::size_t kFirst = image::kIdentityRecordAddress + image::kImageVersionOffset;
    std::array<std::uint8_t, 4> version{};
    std::array<bool, 4> written{};
    const std::size_t count = std::min(
        table.imageRecords.size(), static_cast<std::size_t>(std::max(table.imageRecordCount, 0)));
    for (std::size_t i = 0; i < count; ++i) {
        const ImageRecord& record = table.imageRecords[i];
        const std::size_t length = std::min<std::size_t>(record.length, kRecordDataSize);
        for (std::size_t k = 0; k < version.size(); ++k) {
            const std::size_t at = kFirst + k;
            if (at >= record.Address() && at < record.Address() + length) {
                version[k] = record.data[at - record.Address()];
                written[k] = true;
            }
        }
    }
    if (std::find(written.begin(), written.end(), false) != written.end()) {
        return std::nullopt;
    }
    return FirmwareVersion::FromBytes(version);
}

}  // namespace torvane
