// torvane-cli station: a flashing station. It watches the bus and updates each family device
// that is plugged in, each on its own run while others go on, writes a line (and optionally a
// JSON object to a results file) as each device ends, and a tally at the end.
#pragma once

#include <ostream>

#include "cli/cli_options.h"
#include "dashboard/station_feed.h"
#include "system/device_system.h"

namespace torvane::cli {

// What a stop signal (Ctrl-C, SIGTERM, SIGHUP) asks of a station; a second, third, ... changes
// nothing: the station takes no new device after the first and waits for the runs in progress,
// since a write is never interrupted.
void RequestStationStop();

// Exit status 0 when no device failed, 1 when one did or the results could not be written,
// 2 for options the image cannot serve. With a feed, the station tells it its events (see
// dashboard/station_feed.h) as they happen, from its own thread and its runs'.
int RunStation(DeviceSystem& system, const CliOptions& options, std::ostream& out,
               std::ostream& err, bool terminal, dashboard::StationFeed* feed = nullptr);
// The same with the word of arrivals from elsewhere than the system's own.
int RunStation(DeviceSystem& system, const CliOptions& options, DeviceArrivals& arrivals,
               std::ostream& out, std::ostream& err, bool terminal,
               dashboard::StationFeed* feed = nullptr);

}  // namespace torvane::cli
