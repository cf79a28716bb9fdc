// Report logs for tests: an update as the log of a QMX-C records it, read back.
#pragma once

#include <optional>
#include <sstream>
#include <string>

#include "protocol/report_log.h"

namespace torvane::test {

inline std::optional<LoggedSession> Read(const std::string& text, std::string& error) {
    std::istringstream in(text);
    return ReadReportLog(in, error);
}

// A report of `length` bytes: `head`, then zeros.
inline std::string Report(std::uint32_t ms, const char* direction, const std::string& head,
                          std::size_t length) {
    std::string line = std::to_string(ms) + " " + direction + " " + head;
    for (std::size_t n = (head.size() + 1) / 3; n < length; ++n) {
        line += " 00";
    }
    return line + "\n";
}

// An update as the log of a QMX-C records it: version query, switch, erase confirmed on the
// first poll, one record and its echo (echo: the echo's bytes after its header), run, version.
inline std::string UpdateLog(bool deviceLines, const std::string& echo = "00 00 20 AA") {
    std::string log;
    if (deviceLines)
        log += "0 DEVICE 3A7D:1F02 IN 64 OUT 64\n";
    log += Report(0, "OUT", "03 7E 5A 02 04", 64);
    log += Report(0, "IN", "01 7E 5A 04 03 01 00 00 51 4D 58 43 03 00 02", 64);
    log += Report(1, "OUT", "03 7E 5A 0F 00", 64);
    if (deviceLines)
        log += "1800 DEVICE 3A7D:1F00 IN 40 OUT 40\n";
    log += Report(1800, "OUT", "03 7E 5A 01 01", 40);
    log += Report(3200, "OUT", "03 7E 5A 02 02", 40);
    log += Report(3600, "IN", "01 7E 5A 02 01", 40);
    log += Report(3600, "OUT", "03 7E 5A 01 02 00 20 01 AA", 40);
    log += Report(3610, "IN", "01 7E 5A 02 02 " + echo, 40);
    log += Report(3611, "OUT", "03 7E 5A 01 04", 40);
    if (deviceLines)
        log += "8000 DEVICE 3A7D:1F02 IN 64 OUT 64\n";
    log += Report(8000, "OUT", "03 7E 5A 02 04", 64);
    log += Report(8000, "IN", "01 7E 5A 04 03 02 00 00 51 4D 58 43 03 00 02", 64);
    return log;
}

}  // namespace torvane::test
