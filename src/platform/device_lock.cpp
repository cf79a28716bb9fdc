#include "platform/device_lock.h"

#include <cctype>

namespace torvane {

std::string BusyText(std::uint32_t holder) {
    return "busy: being updated by " +
           (holder != 0 ? "process " + std::to_string(holder) : std::string("another process"));
}

std::string LockName(const std::string& location) {
    // Two locations that come out alike share a lock: one waits for the other, no more.
    std::string name = "torvane-" + location.substr(0, 160);
    for (char& c : name) {
        if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '-' && c != '.') {
            c = '_';
        }
    }
    return name;
}

}  // namespace torvane
