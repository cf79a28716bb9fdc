// What torvane-cli shows while several devices are updated at once: on a terminal one live line
// per device (its index, location and progress bar or status text, the bar with the time left
// once the write rate is steady), otherwise each status as a line prefixed with "[N] ", or JSON
// events that carry "device" and "location". Each run reports from its own thread; the board
// writes one line or event at a time.
#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/time_left.h"
#include "dashboard/station_feed.h"
#include "platform/clock.h"
#include "update/update_run.h"

namespace torvane::cli {

class DeviceBoard {
public:
    // clock times the rows' progress for their time left.
    DeviceBoard(std::ostream& out, std::ostream& err, bool live, bool json, Clock& clock);

    // A row for list entry index at location, of the device with that serial number (empty for
    // none); returns the row's number. Rows may be added while the runs of others go on.
    std::size_t Add(int index, std::string location, std::string serial);
    void Status(std::size_t row, const std::string& text, int progressPercent);
    void Message(std::size_t row, const std::string& text);
    // Ends one row, once its run is over: its live line goes, and line (an event's text with
    // JSON) is written above the live lines left, after the message-box texts held back.
    void End(std::size_t row, const std::string& line);
    // Writes line (a remark of the station's, an event's text with JSON) above the live lines.
    void Line(const std::string& line);
    // Ends the live lines; message-box texts held back while they were drawn follow on err.
    void Finish();
    // A JSON event with the row's device, location and serial fields added.
    std::string Event(std::size_t row, nlohmann::json event) const;
    // Each status from now on is also told to feed (a "status" event), when it is not null.
    void Watch(dashboard::StationFeed* feed) { feed_ = feed; }

private:
    struct Row {
        int index;
        std::string location;
        std::string serial;
        std::string status;
        int percent = -1;
        TimeLeft timeLeft{};
        std::optional<int> secondsLeft{};
        bool ended = false;
    };

    // event with the row's device, location and serial fields added.
    nlohmann::json Tagged(std::size_t row, nlohmann::json event) const;
    std::string LiveLine(const Row& row) const;
    // Redraws the live lines of the rows not ended in place; the lock is held.
    void Redraw();
    // Writes line above the live lines, after the message-box texts held back; the lock is held.
    void WriteAbove(const std::string& line);
    // Writes the held message-box texts to err; the lock is held.
    void WriteHeldMessages();

    std::ostream& out_;
    std::ostream& err_;
    bool live_;
    bool json_;
    Clock& clock_;
    std::mutex lock_;
    std::vector<Row> rows_;
    bool drawn_ = false;
    std::size_t drawnLines_ = 0;
    std::vector<std::string> heldMessages_;
    dashboard::StationFeed* feed_ = nullptr;
};

// A run's observer that reports to one row of the board.
class BoardRow final : public UpdateObserver {
public:
    BoardRow(DeviceBoard& board, std::size_t row) : board_(board), row_(row) {}

    void OnStatus(const std::string& text, int progressPercent) override {
        board_.Status(row_, text, progressPercent);
    }
    void ShowMessage(const std::string& text, const std::string& = {}) override {
        board_.Message(row_, text);
    }
    std::size_t row() const { return row_; }

private:
    DeviceBoard& board_;
    std::size_t row_;
};

}  // namespace torvane::cli
