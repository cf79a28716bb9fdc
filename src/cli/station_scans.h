// What the station's scans need besides the scan itself: a wait for the scan's next turn where
// the system gives no word of devices, and messages told once.
#pragma once

#include <cstdint>
#include <ostream>
#include <set>
#include <string>

#include "platform/clock.h"
#include "platform/device_arrivals.h"
#include "platform/message_sink.h"

namespace torvane::cli {

// Where the system gives no word of devices coming and going: only the scans every second.
class ScansOnly final : public DeviceArrivals {
public:
    explicit ScansOnly(Clock& clock) : clock_(clock) {}
    bool Wait(std::uint32_t timeoutMs, bool) override {
        clock_.Sleep(timeoutMs);
        return false;
    }

private:
    Clock& clock_;
};

// Each distinct text of the scans once: the station scans every second.
class ScanMessages final : public MessageSink {
public:
    explicit ScanMessages(std::ostream& err) : err_(err) {}
    void ShowMessage(const std::string& text, const std::string& = {}) override {
        if (told_.insert(text).second) {
            err_ << "torvane-cli: " << text << (text.empty() || text.back() != '\n' ? "\n" : "");
        }
    }

private:
    std::ostream& err_;
    std::set<std::string> told_;
};

}  // namespace torvane::cli
