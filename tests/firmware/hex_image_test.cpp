#include "firmware/hex_image.h"

#include <gtest/gtest.h>

#include "support/hex_text.h"
#include "support/temp_file.h"

namespace torvane {
namespace {

using test::CrLfFile;
using test::DataLine;
using test::HexLine;
using test::kEndOfFileLine;
using test::TempFile;
using Bytes = std::vector<std::uint8_t>;

const LoadRules kBootLoader{1, {}};
const LoadRules kApplication{0, {{'Q', 'M', 'X', 'S', 3, 0, 1}}};

struct Loaded {
    bool ok;
    ImageTable table;
    HexLoadError error;
};

Loaded Load(const std::string& text, const LoadRules& rules = kBootLoader) {
    TempFile file(text);
    Loaded result{false, {}, {}};
    result.ok = LoadHexImage(file.Open(), rules, result.table, &result.error);
    return result;
}

// A record's 35 bytes: address low byte, high byte, length, data padded with 0xFF.
Bytes Padded(Bytes head) {
    head.resize(sizeof(ImageRecord), 0xFF);
    return head;
}

Bytes Raw(const ImageRecord& record) {
    const auto* first = reinterpret_cast<const std::uint8_t*>(&record);
    return {first, first + sizeof record};
}

TEST(HexImage, LoadedRecordsByteForByteInFileOrder) {
    const struct {
        const char* name;
        std::string text;
        LoadRules rules;
        std::vector<Bytes> records;  // each record's head; none: only that the file loads
    } cases[] = {
        // LF line ends and blank lines shift nothing; an extended address record with base 0 is
        // kept as data; an empty record takes only its address high byte.
        {"the end-of-file record comes last and is not counted",
         ":0400000012345678E8\r\n" + DataLine(0x2000, {1, 2, 3}) + "\n\n" +
             HexLine(0x0000, 0x04, {0x00, 0x00}) + "\n\r\n" + DataLine(0x2134, {}) + "\n" +
             kEndOfFileLine,
         kBootLoader,
         {{0x00, 0x00, 0x04, 0x12, 0x34, 0x56, 0x78},
          {0x00, 0x20, 3, 1, 2, 3},
          {0x00, 0x00, 0x02, 0x00, 0x00},
          {0x00, 0x21, 0},
          {0, 0, 0}}},
        {"every accepted range, and the identity of the running application",
         CrLfFile({DataLine(0x0000, {1}), DataLine(0x0010, {1}), DataLine(0x0100, {1}),
                   DataLine(0x1F00, {1}), DataLine(0x2100, {'Q', 'M', 'X', 'S', 3, 0, 1, 9}),
                   DataLine(0x2A55, {1}), DataLine(0xEFFF, {1}), DataLine(0xF000, {1}),
                   DataLine(0xFF00, {1}), kEndOfFileLine}),
         kApplication,
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Loaded loaded = Load(c.text, c.rules);
        ASSERT_TRUE(loaded.ok) << loaded.error.Describe();
        if (c.records.empty()) {
            continue;
        }
        ASSERT_EQ(loaded.table.imageRecords.size(), c.records.size());
        EXPECT_EQ(loaded.table.imageRecordCount, static_cast<std::int32_t>(c.records.size()) - 1);
        for (std::size_t i = 0; i < c.records.size(); ++i) {
            EXPECT_EQ(Raw(loaded.table.imageRecords[i]), Padded(c.records[i])) << i;
        }
    }
}

TEST(HexImage, RefusedFilesNameTheLineAndTheReason) {
    const auto between = [](const std::string& line) {
        return CrLfFile({DataLine(0x2000, {1}), line, kEndOfFileLine});
    };
    struct Case {
        std::string text;
        std::int64_t line;
        std::string reason;
        LoadRules rules = kBootLoader;
    };
    const Case cases[] = {
        {between(DataLine(0x0101, {1})), 2, "outside the accepted ranges"},
        {between("0400000012345678E8"), 2, "does not start with ':'"},
        {between(":04000000123456G8E8"), 2, "character 'G' is not a hex digit"},
        {between(":0400000012345678E"), 2, "length does not match"},
        {between(":00000001"), 2, "record too short"},
        {between(":0400000012345678E9"), 2, "checksum 0xE9 does not match, expected 0xE8"},
        {between(HexLine(0x0000, 0x00, Bytes(33, 0x11))), 2, "byte count 33 exceeds 32"},
        {between(HexLine(0x0000, 0x04, {0x00, 0x01})), 2, "nonzero base 0x0001"},
        // An extended address record has exactly two data bytes.
        {between(HexLine(0x0000, 0x04, {0x00, 0x00, 0x00})), 2,
         "extended address record with byte count 3 (2 expected)"},
        {between(":" + std::string(300, '0')), 2, "line too long"},
        {CrLfFile({DataLine(0x2000, {1}), DataLine(0x2010, {2})}), 2,
         "does not end with an end-of-file record"},
        {CrLfFile({DataLine(0x2000, {1}), kEndOfFileLine, DataLine(0x2010, {2})}), 3,
         "record after the end-of-file record"},
        {CrLfFile({kEndOfFileLine}), 0, "fewer than two records"},
        {DataLine(0x2000, {1}) + "\n" + std::string(kMaxHexLines, '\n') + kEndOfFileLine,
         kMaxHexLines + 1, "more than 1048576 lines"},
        // Bytes past a short record's length read as 0xFF and cannot match real identity bytes.
        {CrLfFile({DataLine(0x2100, {'Q', 'M', 'X', 'S'}), kEndOfFileLine}), 1, "identity bytes",
         kApplication},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const Loaded loaded = Load(c.text, c.rules);
        EXPECT_FALSE(loaded.ok);
        EXPECT_EQ(loaded.error.line, c.line);
        EXPECT_NE(loaded.error.reason.find(c.reason), std::string::npos) << loaded.error.reason;
    }
}

TEST(HexImage, FewerThanTwoRecordsLeaveAnEarlierTableInPlace) {
    ImageTable table = Load(CrLfFile({DataLine(0x2000, {7}), kEndOfFileLine})).table;
    TempFile single(CrLfFile({kEndOfFileLine}));
    EXPECT_FALSE(LoadHexImage(single.Open(), kBootLoader, table));
    ASSERT_EQ(table.imageRecordCount, 1);
    EXPECT_EQ(table.imageRecords[0].data[0], 7);
}

// The version an image brings: the four bytes it writes at 0x2107, none unless it writes all;
// they may come from more than one record, and the last written counts.
TEST(HexImage, ImageVersionNeedsAllFourBytes) {
    const std::string three = DataLine(0x2100, {'Q', 'M', 'X', 'C', 3, 0, 2, 3, 2, 0});
    EXPECT_FALSE(ImageVersion(Load(CrLfFile({three, kEndOfFileLine})).table));
    const std::string split =
        CrLfFile({three, DataLine(0x210A, {1}), DataLine(0x2108, {5}), kEndOfFileLine});
    EXPECT_EQ(ImageVersion(Load(split).table), (FirmwareVersion{3, 5, 0}));
}

}  // namespace
}  // namespace torvane
