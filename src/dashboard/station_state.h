// The station as its page shows it, folded from the station's events: the image, the tally, the
// boards per hour, a tile per port, the last boards that ended, the devices ignored, and whether
// the station is stopping or has ended. Events come from the station's threads and snapshots are
// taken on the server's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/clock.h"

namespace torvane::dashboard {

class StationState {
public:
    // The last boards that ended, and the devices ignored, that the state keeps.
    static constexpr std::size_t kRecordsKept = 20;

    // Boards per hour are counted on clock, the station's own.
    explicit StationState(Clock& clock) : clock_(clock) {}

    void Apply(const nlohmann::json& event);
    // The whole state as the page takes it.
    nlohmann::json Snapshot() const;

private:
    // A port's tile: waiting for a board, updating it, or the result of the last board there,
    // which stays until the next board starts at the port.
    struct Tile {
        std::string location;
        std::string model;
        nlohmann::json serial;  // a text, or null
        std::string state = "waiting";
        std::string status;      // the run's last status text
        nlohmann::json percent;  // the run's last progress, null before its first
        std::string stage;
        std::string cause;
        nlohmann::json seconds;  // null until the board ended
        nlohmann::json device;   // the board's number, null before the first
    };

    Tile& TileAt(const std::string& location);

    Clock& clock_;
    // Guards everything below: the station's thread and its runs' threads apply events while the
    // server's thread takes snapshots.
    mutable std::mutex lock_;
    std::string file_;
    std::string imageVersion_;
    std::uint32_t began_ = 0;  // the station's start on its clock
    bool begun_ = false;
    std::size_t passed_ = 0, failed_ = 0, skipped_ = 0;
    nlohmann::json boardsPerHour_;  // the tally's, once the station ended
    bool stopping_ = false;
    bool ended_ = false;
    std::vector<Tile> tiles_;             // in the order the ports were first seen
    std::deque<nlohmann::json> records_;  // newest first
    std::deque<nlohmann::json> ignored_;  // newest first
};

}  // namespace torvane::dashboard
