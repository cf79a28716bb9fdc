// What the station tells of one device that started or ended: its record for the results file
// and JSON output, and its line for a terminal.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/device_update.h"

namespace torvane::cli {

struct StationRecord {
    nlohmann::json object;  // the results file's object
    std::string line;       // the terminal's line
};

// The record of update, ended seconds10 tenths of a second after its device arrived.
StationRecord MakeStationRecord(const DeviceUpdate& update, std::uint32_t seconds10);
// The results file's record of update as its run begins: "result" is "started". A device that
// started and never ended (the power went) has this record alone.
nlohmann::json MakeStartedRecord(const DeviceUpdate& update);
// The station's tally event and line: tally counts the devices passed, failed (or refused) and
// skipped in elapsedMs.
StationRecord MakeTally(const std::array<std::size_t, 3>& tally, std::uint32_t elapsedMs);

}  // namespace torvane::cli
