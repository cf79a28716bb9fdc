// The keys of one device in the simulated family's DEVICES text (version=, identity=, boot,
// bootversion=, location=, serial=, fail=, plug=, unplug=, leave=, restart=): each value checked
// and set in the device's configuration.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/family_device.h"

namespace torvane::sim {

// The default port of the device at this place in the list, counting from 1.
std::string DefaultLocation(int port);

// The serial number of the device at this place in the list, counting from 0, unless it names
// its own.
std::string DefaultSerial(int index);

// The parts of text between separators; n separators give n + 1 parts, empty ones included.
std::vector<std::string_view> Split(std::string_view text, char separator);

// Sets config from keys, the ':'-separated parts after the model, for the device at index (from
// 0). False and the reason (without the device number) when a key is wrong, or when the device's
// plug-ins and pull-outs do not take turns.
bool ReadDeviceKeys(std::span<const std::string_view> keys, int index, FamilyDeviceConfig& config,
                    std::string& reason);

}  // namespace torvane::sim
