#include "firmware/hex_image.h"

#include <random>

#include <gtest/gtest.h>

#include "support/hex_text.h"
#include "support/temp_file.h"

namespace torvane {
namespace {

using test::CrLfFile;
using test::DataLine;
using test::kEndOfFileLine;
using test::TempFile;

constexpr std::array<std::uint8_t, 8> kIdentity{'Q', 'M', 'X', 'S', 3, 0, 1, 0};

LoadRules BootLoader() {
    return LoadRules{1, {}};
}
LoadRules Application() {
    return LoadRules{0, kIdentity};
}

struct Loaded {
    bool ok;
    ImageTable table;
    HexLoadError error;
};

Loaded Load(const std::string& text, const LoadRules& rules = BootLoader()) {
    TempFile file(text);
    Loaded result{false, {}, {}};
    result.ok = LoadHexImage(file.Open(), rules, result.table, &result.error);
    return result;
}

std::vector<std::uint8_t> Bytes(const ImageRecord& record) {
    const auto* first = reinterpret_cast<const std::uint8_t*>(&record);
    return {first, first + sizeof record};
}

std::vector<std::uint8_t> Padded(std::vector<std::uint8_t> head, std::size_t size,
                                 std::uint8_t pad) {
    head.resize(size, pad);
    return head;
}

TEST(HexImage, RecordsKeepFileOrderAndTheLastLineIsNotCounted) {
    const Loaded loaded =
        Load(CrLfFile({":0400000012345678E8", DataLine(0x0100, {1, 2}), kEndOfFileLine}));
    ASSERT_TRUE(loaded.ok) << loaded.error.Describe();
    ASSERT_EQ(loaded.table.imageRecords.size(), 3u);
    EXPECT_EQ(loaded.table.imageRecordCount, 2);
    // Address low byte first, then high, length, data padded with 0xFF.
    EXPECT_EQ(Bytes(loaded.table.imageRecords[0]),
              Padded({0x00, 0x00, 0x04, 0x12, 0x34, 0x56, 0x78}, 35, 0xFF));
    EXPECT_EQ(Bytes(loaded.table.imageRecords[1]), Padded({0x00, 0x01, 0x02, 1, 2}, 35, 0xFF));
    EXPECT_EQ(Bytes(loaded.table.imageRecords[2]), Padded({0x00, 0x00, 0x00}, 35, 0xFF));
}

TEST(HexImage, AddressRangesDecideTheWholeLoad) {
    for (const std::uint16_t address :
         {0x0000, 0x0010, 0x0100, 0x1F00, 0x2000, 0x2A55, 0xEFFF, 0xF000, 0xFF00}) {
        EXPECT_TRUE(Load(CrLfFile({DataLine(address, {0xAA}), kEndOfFileLine})).ok) << address;
    }
    for (const std::uint16_t address : {0x0101, 0x1234, 0x1FFF, 0xF010, 0xFFFF}) {
        const Loaded loaded =
            Load(CrLfFile({DataLine(0x2000, {1}), DataLine(address, {0xAA}), kEndOfFileLine}));
        EXPECT_FALSE(loaded.ok) << address;
        EXPECT_FALSE(loaded.table.Loaded());
        EXPECT_EQ(loaded.error.line, 2);
    }
}

TEST(HexImage, IdentityRecordMustMatchTheRunningApplication) {
    const std::string matching =
        CrLfFile({DataLine(0x2100, {'Q', 'M', 'X', 'S', 3, 0, 1, 9, 9, 9, 9}), kEndOfFileLine});
    const std::string other =
        CrLfFile({DataLine(0x2100, {'Q', 'M', 'X', 'C', 3, 0, 2, 9, 9, 9, 9}), kEndOfFileLine});
    EXPECT_TRUE(Load(matching, Application()).ok);
    const Loaded refused = Load(other, Application());
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.error.reason.find("identity"), std::string::npos);
    // A boot loader reports no identity: the same file loads.
    EXPECT_TRUE(Load(other, BootLoader()).ok);
}

TEST(HexImage, ShortIdentityRecordIsComparedWithItsPadding) {
    // Bytes past the record's length read as 0xFF and cannot match real identity bytes.
    EXPECT_FALSE(
        Load(CrLfFile({DataLine(0x2100, {'Q', 'M', 'X', 'S'}), kEndOfFileLine}), Application()).ok);
}

TEST(HexImage, FewerThanTwoRecordsLeaveAnEarlierTableInPlace) {
    ImageTable table;
    {
        TempFile good(CrLfFile({DataLine(0x2000, {7}), kEndOfFileLine}));
        ASSERT_TRUE(LoadHexImage(good.Open(), BootLoader(), table));
    }
    TempFile single(CrLfFile({kEndOfFileLine}));
    HexLoadError error;
    EXPECT_FALSE(LoadHexImage(single.Open(), BootLoader(), table, &error));
    EXPECT_EQ(error.reason, "fewer than two records");
    EXPECT_EQ(table.imageRecordCount, 1);
    EXPECT_EQ(table.imageRecords[0].data[0], 7);

    TempFile refused(CrLfFile({DataLine(0x1234, {1}), kEndOfFileLine}));
    EXPECT_FALSE(LoadHexImage(refused.Open(), BootLoader(), table));
    EXPECT_FALSE(table.Loaded());
    EXPECT_EQ(table.imageRecordCount, 0);
}

TEST(HexImage, LineEndsAndBlankLinesDoNotShiftRecords) {
    const std::vector<std::string> lines{DataLine(0x2000, {1, 2, 3}), DataLine(0x2010, {4}),
                                         kEndOfFileLine};
    const Loaded crlf = Load(CrLfFile(lines));
    const Loaded lf = Load(lines[0] + "\n\n" + lines[1] + "\n\r\n" + lines[2]);
    ASSERT_TRUE(crlf.ok);
    ASSERT_TRUE(lf.ok) << lf.error.Describe();
    ASSERT_EQ(lf.table.imageRecords.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(Bytes(lf.table.imageRecords[i]), Bytes(crlf.table.imageRecords[i]));
    }
}

TEST(HexImage, MalformedLinesRefuseTheFileNamingTheLine) {
    struct Case {
        std::string line;
        std::string reason;
    };
    const std::vector<Case> cases{
        {"0400000012345678E8", "does not start with ':'"},
        {":04000000123456G8E8", "character 'G' is not a hex digit"},
        {":04000000123456 78E8", "character ' ' is not a hex digit"},
        {":0400000012345678E", "length does not match"},
        {":0400000012345678E800", "length does not match"},
        {":00000001", "record too short"},
        {":0400000012345678E9", "checksum 0xE9 does not match, expected 0xE8"},
        {test::HexLine(0x0000, 0x00, std::vector<std::uint8_t>(33, 0x11)),
         "byte count 33 exceeds 32"},
        {test::HexLine(0x0000, 0x04, {0x00, 0x01}), "nonzero base 0x0001"},
        {test::HexLine(0x0000, 0x02, {0x10, 0x00}), "nonzero base 0x1000"},
        // An extended address record has exactly two data bytes; the base is said as read.
        {":050000040100000000F6", "nonzero base 0x0100000000 "},
        {":0400000401000000F7", "nonzero base 0x01000000 "},
        {test::HexLine(0x0000, 0x04, {0x00, 0x00, 0x00}),
         "extended address record with byte count 3 (2 expected)"},
        {test::HexLine(0x0000, 0x02, {0x00}),
         "extended address record with byte count 1 (2 expected)"},
        {test::HexLine(0x0000, 0x02, {}), "extended address record with byte count 0 (2 expected)"},
        {":" + std::string(300, '0'), "line too long"},
    };
    for (const Case& c : cases) {
        const Loaded loaded = Load(CrLfFile({DataLine(0x2000, {1}), c.line, kEndOfFileLine}));
        EXPECT_FALSE(loaded.ok) << c.line;
        EXPECT_EQ(loaded.error.line, 2) << c.line;
        EXPECT_NE(loaded.error.reason.find(c.reason), std::string::npos)
            << c.line << " -> " << loaded.error.reason;
    }
}

TEST(HexImage, ExtendedAddressRecordWithZeroBaseIsKeptAsData) {
    const Loaded loaded = Load(CrLfFile(
        {test::HexLine(0x0000, 0x04, {0x00, 0x00}), DataLine(0x2000, {5}), kEndOfFileLine}));
    ASSERT_TRUE(loaded.ok) << loaded.error.Describe();
    EXPECT_EQ(Bytes(loaded.table.imageRecords[0]),
              Padded({0x00, 0x00, 0x02, 0x00, 0x00}, 35, 0xFF));
}

TEST(HexImage, TheFileMustEndWithItsEndOfFileRecord) {
    const Loaded missing = Load(CrLfFile({DataLine(0x2000, {1}), DataLine(0x2010, {2})}));
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.error.line, 2);
    const Loaded trailing =
        Load(CrLfFile({DataLine(0x2000, {1}), kEndOfFileLine, DataLine(0x2010, {2})}));
    EXPECT_FALSE(trailing.ok);
    EXPECT_EQ(trailing.error.Describe(), "line 3: record after the end-of-file record");
}

TEST(HexImage, EndOfFileRecordWithDataStoresItsCountButNoData) {
    const Loaded loaded =
        Load(CrLfFile({DataLine(0x2000, {1}), test::HexLine(0x0000, 0x01, {0xAB, 0xCD})}));
    ASSERT_TRUE(loaded.ok) << loaded.error.Describe();
    EXPECT_EQ(Bytes(loaded.table.imageRecords[1]), Padded({0x00, 0x00, 0x02}, 35, 0xFF));
}

TEST(HexImage, EmptyRecordTakesOnlyItsAddressHighByte) {
    std::vector<ImageRecord> records(1);
    EXPECT_EQ(ParseHexLine(BootLoader(), "123400CC", 0, 0, records), 0);
    EXPECT_EQ(records[0].addressHigh, 0x12);
    EXPECT_EQ(records[0].addressLow, 0x00);  // as zero-filled
    EXPECT_EQ(records[0].length, 0);
}

TEST(HexImage, ParseHexLineStaysInsideItsTable) {
    std::vector<ImageRecord> records(1);
    EXPECT_EQ(ParseHexLine(BootLoader(), "2000000102", 1, 1, records), kAddressRefused);
    EXPECT_EQ(ParseHexLine(BootLoader(), "200000", 1, 0, records), 0);  // text cut short
    EXPECT_EQ(records[0].data[0], 0xFF);
}

TEST(HexImage, MutatedFilesLoadWholeOrNotAtAll) {
    // Random damage to a valid file: each result is a complete table or a refusal, never a
    // table with records out of shape (the sanitizers watch every read and write).
    std::vector<std::string> lines;
    for (std::uint16_t address = 0x2000; address < 0x2200; address += 0x20) {
        lines.push_back(DataLine(address, std::vector<std::uint8_t>(32, address >> 5 & 0xFF)));
    }
    lines.push_back(kEndOfFileLine);
    const std::string original = CrLfFile(lines);
    std::mt19937 random(20261206);
    const std::string alphabet = "0123456789ABCDEF:\r\n x";
    int loaded = 0;
    for (int round = 0; round < 300; ++round) {
        std::string text = original;
        const int edits = 1 + static_cast<int>(random() % 3);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = random() % text.size();
            switch (random() % 3) {
                case 0:
                    text[at] = alphabet[random() % alphabet.size()];
                    break;
                case 1:
                    text.erase(at, 1);
                    break;
                default:
                    text.insert(at, 1, alphabet[random() % alphabet.size()]);
            }
        }
        const Loaded result = Load(text);
        if (!result.ok) {
            EXPECT_FALSE(result.error.reason.empty());
            continue;
        }
        ++loaded;
        EXPECT_EQ(result.table.imageRecordCount + 1,
                  static_cast<std::int32_t>(result.table.imageRecords.size()));
        for (const ImageRecord& record : result.table.imageRecords) {
            EXPECT_LE(record.length, kRecordDataSize);
        }
    }
    // Edits inside a record are caught by its checksum; only harmless ones load.
    EXPECT_LT(loaded, 60);
}

}  // namespace
}  // namespace torvane
