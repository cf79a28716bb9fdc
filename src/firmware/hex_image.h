// Intel HEX firmware files into write records.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "firmware/firmware_version.h"
#include "firmware/image_record.h"

namespace torvane {

// What the loader checks a file against: in application mode the record at 0x2100 must carry
// the identity bytes that the running application reported.
struct LoadRules {
    std::int32_t bootMode = 1;
    Identity deviceIdentity{};
};

// Why a file was refused; line counts from 1, 0 stands for the file as a whole.
struct HexLoadError {
    std::int64_t line = 0;
    std::string reason;

    std::string Describe() const;
};

// A file of more lines is refused unread: the family's 64 KiB of flash, written one byte per
// record, takes 65,537 lines.
inline constexpr std::int64_t kMaxHexLines = 1 << 20;

// ParseHexLine results besides the record index.
inline constexpr std::int32_t kAddressRefused = -1;
inline constexpr std::int32_t kIdentityMismatch = -2;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using ImageFile = std::unique_ptr<std::FILE, FileCloser>;

// The file at path opened for reading in binary; null when it cannot be (errno says why).
inline ImageFile OpenImageFile(const std::string& path) {
    return ImageFile(std::fopen(path.c_str(), "rb"));
}

// Reads the open stream from its start into table. True: the table holds one record per line
// and imageRecordCount the records to write. False: error (when given) says where and why;
// a file refused before its records are known leaves the table as it was, a refused record
// leaves it empty. The stream stays open.
bool LoadHexImage(std::FILE* stream, const LoadRules& rules, ImageTable& table,
                  HexLoadError* error = nullptr);

// Fills records[index] from the text after a line's byte count field (address, type, data,
// checksum) and the byte count n. Returns index, kAddressRefused or kIdentityMismatch.
std::int32_t ParseHexLine(const LoadRules& rules, std::string_view text, int n, std::int32_t index,
                          std::span<ImageRecord> records);

// The version the image brings: the bytes it writes at 7-10 past the identity record's address
// (0x2107-0x210A), the last written where records overlap; nullopt unless it writes all four.
std::optional<FirmwareVersion> ImageVersion(const ImageTable& table);

}  // namespace torvane
