// What the station tells those who watch it: one JSON event at a time, from the station's thread
// and from the threads of its runs. A watcher keeps what it needs and never makes the caller wait.
//
// The events, each with "event" naming it:
//   station  {file, imageVersion, ports?}: the station began; ports, when it is limited to some,
//            are the exact locations it takes boards at
//   started  the results file's started record of a board
//   status   {device, location, serial, status, percent}: a run's status text, percent null
//            without one
//   device   the results file's end record of a board (result, stage, status, cause, seconds,
//            versions)
//   ignored  {location, model, serial}: a device at a port the station is not limited to
//   stopping {}: the station takes no new board and waits for its runs
//   tally    {passed, failed, skipped, seconds, devicesPerHour}: the station ended
// Records carry "serial", a text or null for a device without one.
#pragma once

#include <cstddef>
#include <cstdint>

#include <nlohmann/json.hpp>

namespace torvane::dashboard {

// Boards that ended in elapsedMs, as boards per hour, rounded; 0 before any time has passed.
inline std::size_t BoardsPerHour(std::size_t boards, std::uint32_t elapsedMs) {
    return elapsedMs == 0 ? 0 : static_cast<std::size_t>(boards * 3'600'000.0 / elapsedMs + 0.5);
}

class StationFeed {
public:
    virtual ~StationFeed() = default;
    virtual void Publish(const nlohmann::json& event) = 0;
};

}  // namespace torvane::dashboard
