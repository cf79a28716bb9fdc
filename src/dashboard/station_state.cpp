#include "dashboard/station_state.h"

#include "dashboard/station_feed.h"

#include <algorithm>

namespace torvane::dashboard {
namespace {

using nlohmann::json;

// A text field of an event, empty where it is missing or not a text.
std::string Text(const json& event, const char* key) {
    const auto it = event.find(key);
    return it != event.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// A field as it is, null where it is missing.
json Field(const json& event, const char* key) {
    const auto it = event.find(key);
    return it != event.end() ? *it : json();
}

// A count field, or fallback where it is missing or not a count.
std::size_t Count(const json& event, const char* key, std::size_t fallback) {
    const auto it = event.find(key);
    return it != event.end() && it->is_number_unsigned() ? it->get<std::size_t>() : fallback;
}

// The serial number: a text, or null for none (an empty text, or none given).
json Serial(const json& event) {
    const std::string serial = Text(event, "serial");
    return serial.empty() ? json() : json(serial);
}

// The tile's state for a board's result: a refused board failed.
const char* StateOf(const std::string& result) {
    return result == "passed" ? "passed" : result == "skipped" ? "skipped" : "failed";
}

void KeepNewest(std::deque<json>& list, json entry) {
    list.push_front(std::move(entry));
    if (list.size() > StationState::kRecordsKept) {
        list.pop_back();
    }
}

}  // namespace

StationState::Tile& StationState::TileAt(const std::string& location) {
    const auto it = std::find_if(tiles_.begin(), tiles_.end(),
                                 [&](const Tile& tile) { return tile.location == location; });
    if (it != tiles_.end()) {
        return *it;
    }
    tiles_.push_back({});
    tiles_.back().location = location;
    return tiles_.back();
}

void StationState::Apply(const json& event) {
    const std::string name = Text(event, "event");
    const std::string location = Text(event, "location");
    const std::lock_guard<std::mutex> hold(lock_);
    if (name == "station") {
        file_ = Text(event, "file");
        imageVersion_ = Text(event, "imageVersion");
        began_ = clock_.TickCount();
        begun_ = true;
        if (const auto ports = event.find("ports"); ports != event.end() && ports->is_array()) {
            for (const json& port : *ports) {
                if (port.is_string()) {
                    TileAt(port.get<std::string>());
                }
            }
        }
    } else if (name == "started" && !location.empty()) {
        Tile& tile = TileAt(location);
        tile = {};
        tile.location = location;
        tile.model = Text(event, "model");
        tile.serial = Serial(event);
        tile.state = "updating";
        tile.device = Field(event, "device");
    } else if (name == "status" && !location.empty()) {
        Tile& tile = TileAt(location);
        // A late status of a board that already ended changes nothing.
        if (tile.state == "updating" && tile.device == Field(event, "device")) {
            tile.status = Text(event, "status");
            // A status without a progress (the closing steps after the writes) keeps the last.
            if (const json percent = Field(event, "percent"); percent.is_number()) {
                tile.percent = percent;
            }
        }
    } else if (name == "device") {
        const std::string result = Text(event, "result");
        ++(result == "passed" ? passed_ : result == "skipped" ? skipped_ : failed_);
        json record = event;
        record.erase("event");
        record["serial"] = Serial(event);
        KeepNewest(records_, std::move(record));
        // A board without a location has no port to show it at: the table has it.
        if (!location.empty()) {
            Tile& tile = TileAt(location);
            tile.model = Text(event, "model");
            tile.serial = Serial(event);
            tile.state = StateOf(result);
            tile.status = Text(event, "status");
            tile.percent = json();
            tile.stage = Text(event, "stage");
            tile.cause = Text(event, "cause");
            tile.seconds = Field(event, "seconds");
            tile.device = Field(event, "device");
        }
    } else if (name == "ignored") {
        KeepNewest(
            ignored_,
            {{"location", location}, {"model", Text(event, "model")}, {"serial", Serial(event)}});
    } else if (name == "stopping") {
        stopping_ = true;
    } else if (name == "tally") {
        passed_ = Count(event, "passed", passed_);
        failed_ = Count(event, "failed", failed_);
        skipped_ = Count(event, "skipped", skipped_);
        boardsPerHour_ = Field(event, "devicesPerHour");
        ended_ = true;
    }
}

json StationState::Snapshot() const {
    const std::lock_guard<std::mutex> hold(lock_);
    json boardsPerHour = boardsPerHour_;
    if (!ended_) {
        const std::uint32_t elapsed = begun_ ? ElapsedMs(began_, clock_.TickCount()) : 0;
        boardsPerHour = BoardsPerHour(passed_ + failed_ + skipped_, elapsed);
    }
    json tiles = json::array();
    for (const Tile& tile : tiles_) {
        tiles.push_back({{"location", tile.location},
                         {"model", tile.model},
                         {"serial", tile.serial},
                         {"state", tile.state},
                         {"status", tile.status},
                         {"percent", tile.percent},
                         {"stage", tile.stage},
                         {"cause", tile.cause},
                         {"seconds", tile.seconds},
                         {"device", tile.device}});
    }
    return {{"file", file_},
            {"imageVersion", imageVersion_},
            {"tally", {{"passed", passed_}, {"failed", failed_}, {"skipped", skipped_}}},
            {"boardsPerHour", boardsPerHour},
            {"stopping", stopping_},
            {"ended", ended_},
            {"tiles", std::move(tiles)},
            {"records", json(records_)},
            {"ignored", json(ignored_)}};
}

}  // namespace torvane::dashboard
