#include "protocol/write_order.h"

#include <gtest/gtest.h>

#include "support/records.h"

namespace torvane {
namespace {

// A table with records at the addresses, then the end-of-file record, which is never written.
ImageTable TableWithAddresses(const std::vector<std::uint16_t>& addresses) {
    ImageTable table;
    for (const std::uint16_t address : addresses) {
        table.imageRecords.push_back(test::Record(address, {}));
    }
    table.imageRecords.emplace_back();
    table.imageRecordCount = static_cast<std::int32_t>(addresses.size());
    return table;
}

// The start record (0x2000) goes last, without progress; the others keep file order.
TEST(WriteOrder, StartRecordGoesLastAndItsSlotShowsNoProgress) {
    const struct {
        const char* name;
        std::vector<std::uint16_t> addresses;
        std::vector<std::int32_t> records;
        std::vector<int> progress;
    } cases[] = {
        {"start record among the others",
         {0x2100, 0x2120, 0x2140, 0x2160, 0x2180, 0x2000, 0x21A0, 0x21C0, 0x21E0, 0x2200},
         {0, 1, 2, 3, 4, 6, 7, 8, 9, 5},
         {9, 18, 27, 36, 45, 63, 72, 81, 90, -1}},
        {"no start record: record 0 is written again",
         {0x2100, 0x2120, 0x2140},
         {0, 1, 2, 0},
         {25, 50, 75, -1}},
        {"several start records: only the last is written",
         {0x2000, 0x2100, 0x2000},
         {1, 2},
         {50, -1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::int32_t> records;
        std::vector<int> progress;
        for (const WriteStep& step : PlanWrites(TableWithAddresses(c.addresses))) {
            records.push_back(step.record);
            progress.push_back(step.progressPercent);
        }
        EXPECT_EQ(records, c.records);
        EXPECT_EQ(progress, c.progress);
    }
    EXPECT_TRUE(PlanWrites(ImageTable{}).empty());
}

}  // namespace
}  // namespace torvane
