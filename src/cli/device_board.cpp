#include "cli/device_board.h"

#include <algorithm>

#include "cli/json_text.h"

namespace torvane::cli {
namespace {

constexpr int kBarWidth = 20;
// Live lines are cut to fit an 80-column terminal: a line that wrapped would break the redraw.
constexpr std::size_t kLiveWidth = 79;

std::string WithoutNewline(std::string text) {
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

}  // namespace

DeviceBoard::DeviceBoard(std::ostream& out, std::ostream& err, bool live, bool json, Clock& clock)
    : out_(out), err_(err), live_(live && !json), json_(json), clock_(clock) {}

std::size_t DeviceBoard::Add(int index, std::string location, std::string serial) {
    const std::lock_guard<std::mutex> hold(lock_);
    rows_.push_back({index, std::move(location), std::move(serial), {}, -1});
    return rows_.size() - 1;
}

nlohmann::json DeviceBoard::Tagged(std::size_t row, nlohmann::json event) const {
    event["device"] = rows_[row].index;
    event["location"] = rows_[row].location;
    event["serial"] = JsonSerial(rows_[row].serial);
    return event;
}

std::string DeviceBoard::Event(std::size_t row, nlohmann::json event) const {
    return JsonText(Tagged(row, std::move(event)));
}

void DeviceBoard::Status(std::size_t row, const std::string& text, int progressPercent) {
    const std::lock_guard<std::mutex> hold(lock_);
    Row& shown = rows_[row];
    if (shown.status == text || shown.ended) {
        return;
    }
    shown.status = text;
    shown.percent = progressPercent;
    shown.secondsLeft = shown.timeLeft.Add(progressPercent, clock_.TickCount());
    if (feed_ != nullptr) {
        feed_->Publish(
            Tagged(row, {{"event", "status"},
                         {"status", text},
                         {"percent", progressPercent >= 0 ? nlohmann::json(progressPercent)
                                                          : nlohmann::json()}}));
    }
    if (json_) {
        out_ << Event(row, {{"event", "status"}, {"text", text}}) << '\n';
        if (progressPercent >= 0) {
            out_ << Event(row, ProgressEvent(progressPercent, shown.secondsLeft)) << '\n';
        }
    } else if (live_) {
        Redraw();
    } else {
        out_ << '[' << shown.index << "] " << text << '\n';
    }
    out_.flush();
}

void DeviceBoard::Message(std::size_t row, const std::string& text) {
    const std::lock_guard<std::mutex> hold(lock_);
    const std::string line = "[" + std::to_string(rows_[row].index) + "] " + WithoutNewline(text);
    if (json_) {
        out_ << Event(row, {{"event", "message"}, {"text", text}}) << '\n';
        out_.flush();
    }
    if (live_ && drawn_) {
        heldMessages_.push_back(line);
        return;
    }
    err_ << line << '\n';
    err_.flush();
}

void DeviceBoard::End(std::size_t row, const std::string& line) {
    const std::lock_guard<std::mutex> hold(lock_);
    rows_[row].ended = true;
    WriteAbove(line);
}

void DeviceBoard::Line(const std::string& line) {
    const std::lock_guard<std::mutex> hold(lock_);
    WriteAbove(line);
}

void DeviceBoard::WriteAbove(const std::string& line) {
    if (live_ && drawn_) {
        // Back to the first live line, and everything from there cleared.
        out_ << "\x1b[" << drawnLines_ << "A\r\x1b[J";
        out_.flush();
        drawn_ = false;
        drawnLines_ = 0;
    }
    WriteHeldMessages();
    out_ << line << '\n';
    if (live_) {
        Redraw();
    }
    out_.flush();
}

void DeviceBoard::WriteHeldMessages() {
    for (const std::string& line : heldMessages_) {
        err_ << line << '\n';
    }
    heldMessages_.clear();
    err_.flush();
}

void DeviceBoard::Finish() {
    const std::lock_guard<std::mutex> hold(lock_);
    drawn_ = false;
    WriteHeldMessages();
}

std::string DeviceBoard::LiveLine(const Row& row) const {
    const std::string index = "[" + std::to_string(row.index) + "] ";
    std::string location = row.location;
    std::string state;
    if (row.percent >= 0) {
        const int filled = row.percent * kBarWidth / 100;
        state = '[' + std::string(static_cast<std::size_t>(filled), '#') +
                std::string(static_cast<std::size_t>(kBarWidth - filled), '.') + "] " +
                std::to_string(row.percent) + '%';
        if (row.secondsLeft) {
            state += "  " + TimeLeftText(*row.secondsLeft);
            // The time left is not cut: the location gives way from its front, as its end names
            // the port.
            const std::size_t room =
                kLiveWidth - std::min(kLiveWidth, index.size() + 2 + state.size());
            if (location.size() > room) {
                location = room > 3 ? "..." + location.substr(location.size() - (room - 3)) : "";
            }
        }
    } else {
        state = row.status;
    }
    const std::string line = index + location + "  " + state;
    return line.size() > kLiveWidth ? line.substr(0, kLiveWidth) : line;
}

void DeviceBoard::Redraw() {
    if (drawn_ && drawnLines_ > 0) {
        out_ << "\x1b[" << drawnLines_ << 'A';  // back to the first live line
    }
    std::size_t lines = 0;
    for (const Row& row : rows_) {
        if (!row.ended) {
            out_ << "\r\x1b[2K" << LiveLine(row) << '\n';
            ++lines;
        }
    }
    drawnLines_ = lines;
    drawn_ = lines > 0;
}

}  // namespace torvane::cli
