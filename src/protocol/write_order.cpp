#include "protocol/write_order.h"

#include <algorithm>

#include "protocol/family.h"

namespace torvane {

std::vector<WriteStep> PlanWrites(const ImageTable& table) {
    std::vector<WriteStep> steps;
    const std::int32_t count = std::min<std::int32_t>(
        table.imageRecordCount, static_cast<std::int32_t>(table.imageRecords.size()));
    if (table.imageRecords.empty() || count < 0) {
        return steps;
    }
    std::int32_t deferred = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        if (table.imageRecords[static_cast<std::size_t>(i)].Address() ==
            family::kStartRecordAddress) {
            deferred = i;
            continue;
        }
        steps.push_back({i, static_cast<int>(100 * (i + 1) / (count + 1))});
    }
    steps.push_back({deferred, -1});
    return steps;
}

}  // namespace torvane
