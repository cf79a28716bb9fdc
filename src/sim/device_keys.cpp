#include "sim/device_keys.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <cstdint>
#include <optional>
#include <utility>

namespace torvane::sim {
namespace {

// A location path longer than this is cut when a device is opened, and then names no port.
constexpr std::size_t kMaxLocationLength = 255;

// A USB string descriptor's longest text.
constexpr std::size_t kMaxSerialLength = 126;

// The other port of fail=otherport lies this many ports past the device's own default one.
constexpr int kOtherPortDistance = 8;

// The faults that only switch something on, by their names in fail=NAME.
struct SwitchedFault {
    std::string_view name;
    bool FamilyFaults::*on;
};
constexpr SwitchedFault kSwitchedFaults[] = {
    {"erase", &FamilyFaults::eraseNeverConfirmed},
    {"noreturn", &FamilyFaults::bootLoaderNeverAppears},
    {"nolocation", &FamilyFaults::noLocationPath},
    {"noversion", &FamilyFaults::bootVersionUnanswered},
    {"norun", &FamilyFaults::runIgnored},
    {"oldversion", &FamilyFaults::versionKeptAfterRun},
};

// A decimal number of digits only, at most max.
std::optional<unsigned> Number(std::string_view text, unsigned max) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || value > max) {
        return std::nullopt;
    }
    return value;
}

std::optional<Identity> ParseIdentity(std::string_view text) {
    Identity identity;
    auto& bytes = identity.bytes;
    if (text.size() != 2 * bytes.size()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char* first = text.data() + 2 * i;
        const auto [end, ec] = std::from_chars(first, first + 2, bytes[i], 16);
        if (ec != std::errc{} || end != first + 2) {
            return std::nullopt;
        }
    }
    return identity;
}

// The latest time a plug schedule may name: a day, far inside the tick counter's half range.
constexpr unsigned kMaxScheduleMs = 86'400'000;

// TIME[/TIME]..., each TIME a whole number of ms or s ("500ms", "2s"), in increasing order.
std::optional<std::vector<std::uint32_t>> Schedule(std::string_view text) {
    std::vector<std::uint32_t> times;
    for (std::string_view part : Split(text, '/')) {
        unsigned scale = 1;
        if (part.size() > 2 && part.substr(part.size() - 2) == "ms") {
            part.remove_suffix(2);
        } else if (part.size() > 1 && part.back() == 's') {
            part.remove_suffix(1);
            scale = 1000;
        } else {
            return std::nullopt;
        }
        const std::optional<unsigned> value = Number(part, kMaxScheduleMs / scale);
        if (!value || (!times.empty() && *value * scale <= times.back())) {
            return std::nullopt;
        }
        times.push_back(*value * scale);
    }
    return times;
}

// The reason when a device's plug-ins and pull-outs do not take turns; empty when they do.
std::string NotAlternating(const FamilyDeviceConfig& config) {
    std::vector<std::pair<std::uint32_t, bool>> changes;  // time, plug-in
    for (const std::uint32_t t : config.plugMs) {
        changes.emplace_back(t, true);
    }
    for (const std::uint32_t t : config.unplugMs) {
        changes.emplace_back(t, false);
    }
    std::sort(changes.begin(), changes.end());
    for (std::size_t i = 1; i < changes.size(); ++i) {
        if (changes[i].first == changes[i - 1].first) {
            return "plugged in and pulled out at the same time, " +
                   std::to_string(changes[i].first) + " ms";
        }
        if (changes[i].second == changes[i - 1].second) {
            return std::string("two ") + (changes[i].second ? "plug-ins" : "pull-outs") +
                   " without a " + (changes[i].second ? "pull-out" : "plug-in") +
                   " between them, at " + std::to_string(changes[i].first) + " ms";
        }
    }
    return {};
}

// Reads one device's text into config; false and the reason (without the device number).
class DeviceParser {
public:
    DeviceParser(FamilyDeviceConfig& config, int index, std::string& reason)
        : config_(config), index_(index), reason_(reason) {}

    bool Key(std::string_view key) {
        const std::size_t equals = key.find('=');
        const std::string_view name = key.substr(0, equals);
        const std::string_view value =
            equals == std::string_view::npos ? std::string_view{} : key.substr(equals + 1);
        const bool afterLocation = std::exchange(afterLocation_, name == "location");
        const bool known = name == "boot" || name == "version" || name == "identity" ||
                           name == "bootversion" || name == "location" || name == "fail" ||
                           name == "plug" || name == "unplug" || name == "restart" ||
                           name == "leave" || name == "serial";
        if (!known) {
            return Fail("unknown key '" + std::string(key) + "'" +
                        (afterLocation ? " (location TEXT cannot contain ':')" : ""));
        }
        // Each key once; each kind of fault once.
        const std::string_view what = name == "fail" ? key.substr(0, key.find('@')) : name;
        for (std::string_view earlier : seen_) {
            if (earlier == what) {
                return Fail("'" + std::string(what) + "' is given twice");
            }
        }
        seen_.push_back(what);
        if (name == "boot") {
            if (equals != std::string_view::npos) {
                return Fail("'boot' takes no value: '" + std::string(key) + "'");
            }
            config_.startInBootLoader = true;
            return true;
        }
        if (value.empty()) {
            return Fail("'" + std::string(name) + "' needs a value");
        }
        if (name == "version") {
            const auto version = FirmwareVersion::Parse(value);
            if (!version) {
                return Fail("'" + std::string(key) + "' is not version=A.B.C, each 0-255");
            }
            config_.appVersion = {static_cast<std::uint8_t>(version->major),
                                  static_cast<std::uint8_t>(version->minor),
                                  static_cast<std::uint8_t>(version->patch), 0};
        } else if (name == "identity") {
            const auto identity = ParseIdentity(value);
            if (!identity) {
                return Fail("'" + std::string(key) + "' is not identity= with 14 hex digits");
            }
            config_.identity = *identity;
        } else if (name == "bootversion") {
            // Single digits: the boot loader answers with one ASCII digit each.
            const auto version = FirmwareVersion::Parse(value);
            if (!version || value.size() != 5) {
                return Fail("'" + std::string(key) + "' is not bootversion=A.B.C, each 0-9");
            }
            config_.bootVersion = {static_cast<char>('0' + version->major),
                                   static_cast<char>('0' + version->minor),
                                   static_cast<char>('0' + version->patch)};
        } else if (name == "location") {
            if (value.size() > kMaxLocationLength) {
                return Fail("'location' is longer than " + std::to_string(kMaxLocationLength) +
                            " characters");
            }
            config_.locationPath = value;
        } else if (name == "serial") {
            // As a USB string descriptor holds it, and printable, so that every output shows it
            // as it is.
            const auto printable = [](char c) { return c > ' ' && c < 0x7F; };
            if (value.size() > kMaxSerialLength ||
                !std::all_of(value.begin(), value.end(), printable)) {
                return Fail("'" + std::string(key) + "' is not serial=TEXT, 1 to " +
                            std::to_string(kMaxSerialLength) + " printable ASCII characters");
            }
            config_.serial = value;
        } else if (name == "plug" || name == "unplug") {
            auto times = Schedule(value);
            if (!times) {
                return Fail("'" + std::string(key) +
                            "' is not TIME[/TIME]..., each TIME a whole number of ms or s "
                            "(at most a day), in increasing order");
            }
            (name == "plug" ? config_.plugMs : config_.unplugMs) = std::move(*times);
        } else if (name == "restart" || name == "leave") {
            const auto time = Schedule(value);
            if (!time || time->size() != 1) {
                return Fail("'" + std::string(key) + "' is not " + std::string(name) +
                            "=TIME, a whole number of ms or s (at most a day)");
            }
            (name == "restart" ? config_.restartMs : config_.leaveMs) = time->front();
        } else {
            return Fault(key, value);
        }
        return true;
    }

private:
    bool Fault(std::string_view key, std::string_view value) {
        FamilyFaults& faults = config_.faults;
        const std::size_t at = value.find('@');
        const std::string_view kind = value.substr(0, at);
        if (at == std::string_view::npos) {
            for (const SwitchedFault& fault : kSwitchedFaults) {
                if (kind == fault.name) {
                    faults.*fault.on = true;
                    return true;
                }
            }
            if (kind == "otherport") {
                faults.returnLocationPath = DefaultLocation(index_ + 1 + kOtherPortDistance);
                return true;
            }
        } else if (kind == "echo" || kind == "unplug" || kind == "denied") {
            const std::optional<unsigned> number = Number(value.substr(at + 1), INT_MAX);
            if (!number) {
                return Fail("'" + std::string(key) + "' needs a" +
                            (kind == "denied" ? "n open" : " write") + " number K from 0");
            }
            (kind == "echo"     ? faults.wrongEchoAtRecord
             : kind == "unplug" ? faults.unplugAtRecord
                                : faults.deniedOpen) = static_cast<int>(*number);
            return true;
        }
        return Fail("unknown fault '" + std::string(key) +
                    "'; faults are erase, echo@K, noreturn, otherport, unplug@K, nolocation, "
                    "noversion, norun, oldversion, denied@K");
    }

    bool Fail(std::string reason) {
        reason_ = std::move(reason);
        return false;
    }

    FamilyDeviceConfig& config_;
    int index_;
    std::string& reason_;
    std::vector<std::string_view> seen_;
    bool afterLocation_ = false;
};

}  // namespace

std::string DefaultSerial(int index) {
    const std::string digits = std::to_string(index + 1);
    return "TVS" + std::string(digits.size() < 5 ? 5 - digits.size() : 0, '0') + digits;
}

std::string DefaultLocation(int port) {
    return "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(" + std::to_string(port) + ")";
}

// The parts of text between separators; n separators give n + 1 parts, empty ones included.
std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(separator, start);
        if (end == std::string_view::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

bool ReadDeviceKeys(std::span<const std::string_view> keys, int index, FamilyDeviceConfig& config,
                    std::string& reason) {
    DeviceParser parser(config, index, reason);
    for (const std::string_view key : keys) {
        if (!parser.Key(key)) {
            return false;
        }
    }
    reason = NotAlternating(config);
    return reason.empty();
}

}  // namespace torvane::sim
