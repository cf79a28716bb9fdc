#include "protocol/write_order.h"

#include <gtest/gtest.h>

namespace torvane {
namespace {

ImageTable TableWithAddresses(const std::vector<std::uint16_t>& addresses) {
    ImageTable table;
    for (const std::uint16_t address : addresses) {
        ImageRecord record;
        record.addressLow = static_cast<std::uint8_t>(address);
        record.addressHigh = static_cast<std::uint8_t>(address >> 8);
        table.imageRecords.push_back(record);
    }
    table.imageRecords.emplace_back();  // the end-of-file record, never written
    table.imageRecordCount = static_cast<std::int32_t>(addresses.size());
    return table;
}

std::vector<std::int32_t> Records(const std::vector<WriteStep>& steps) {
    std::vector<std::int32_t> records;
    for (const WriteStep& step : steps) {
        records.push_back(step.record);
    }
    return records;
}

std::vector<int> Progress(const std::vector<WriteStep>& steps) {
    std::vector<int> progress;
    for (const WriteStep& step : steps) {
        progress.push_back(step.progressPercent);
    }
    return progress;
}

TEST(WriteOrder, StartRecordGoesLastAndItsSlotShowsNoProgress) {
    const auto steps = PlanWrites(TableWithAddresses(
        {0x2100, 0x2120, 0x2140, 0x2160, 0x2180, 0x2000, 0x21A0, 0x21C0, 0x21E0, 0x2200}));
    EXPECT_EQ(Records(steps), (std::vector<std::int32_t>{0, 1, 2, 3, 4, 6, 7, 8, 9, 5}));
    EXPECT_EQ(Progress(steps), (std::vector<int>{9, 18, 27, 36, 45, 63, 72, 81, 90, -1}));
}

TEST(WriteOrder, WithoutAStartRecordRecordZeroIsWrittenAgain) {
    const auto steps = PlanWrites(TableWithAddresses({0x2100, 0x2120, 0x2140}));
    EXPECT_EQ(Records(steps), (std::vector<std::int32_t>{0, 1, 2, 0}));
    EXPECT_EQ(Progress(steps), (std::vector<int>{25, 50, 75, -1}));
}

TEST(WriteOrder, OnlyTheLastOfSeveralStartRecordsIsWritten) {
    const auto steps = PlanWrites(TableWithAddresses({0x2000, 0x2100, 0x2000}));
    EXPECT_EQ(Records(steps), (std::vector<std::int32_t>{1, 2}));
}

TEST(WriteOrder, EmptyTablePlansNothing) {
    EXPECT_TRUE(PlanWrites(ImageTable{}).empty());
}

}  // namespace
}  // namespace torvane
