// What the station tells of one device that ended: its record for the results file and JSON
// output, and its line for a terminal.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "discovery/device_table.h"
#include "update/update_outcome.h"

namespace torvane::cli {

struct StationRecord {
    nlohmann::json object;  // the results file's object
    std::string line;       // the terminal's line
};

// The record of device index at entry, ended with outcome seconds10 tenths of a second after it
// arrived.
StationRecord MakeStationRecord(int index, const ListedDevice& entry, const UpdateOutcome& outcome,
                                std::uint32_t seconds10);

}  // namespace torvane::cli
