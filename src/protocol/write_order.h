// The order in which an image goes to the boot loader, with the progress shown after each write.
#pragma once

#include <cstdint>
#include <vector>

#include "firmware/image_record.h"

namespace torvane {

struct WriteStep {
    std::int32_t record;  // index into imageRecords
    int progressPercent;  // shown after the write; -1 for none
};

// Every record to write except those at 0x2000, in file order, each followed by the progress
// 100 * (i + 1) / (N + 1) of its position i among the N records to write; then the last record at
// 0x2000 (record 0 again when there is none), without progress. Empty for an empty table.
std::vector<WriteStep> PlanWrites(const ImageTable& table);

}  // namespace torvane
