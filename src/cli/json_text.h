// One JSON event as a line of text. Texts from outside (file names, paths) may hold bytes that are
// not UTF-8; they are written as U+FFFD instead of ending the program.
#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "firmware/firmware_version.h"

namespace torvane::cli {

inline std::string JsonText(const nlohmann::json& event) {
    return event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// A version's text, or null where there is none (a boot loader's, or a device that did not
// answer).
inline nlohmann::json JsonVersion(const std::optional<FirmwareVersion>& version) {
    return version ? nlohmann::json(version->Text()) : nlohmann::json();
}

// A serial number, or null for a device without one.
// A run's progress event: its percentage, and the seconds left once known.
inline nlohmann::json ProgressEvent(int percent, std::optional<int> secondsLeft) {
    nlohmann::json event{{"event", "progress"}, {"percent", percent}};
    if (secondsLeft) {
        event["secondsLeft"] = *secondsLeft;
    }
    return event;
}

inline nlohmann::json JsonSerial(const std::string& serial) {
    return serial.empty() ? nlohmann::json() : nlohmann::json(serial);
}

// A serial number as a table or a line shows it: "-" for a device without one.
inline std::string SerialCell(const std::string& serial) {
    return serial.empty() ? "-" : serial;
}

}  // namespace torvane::cli
