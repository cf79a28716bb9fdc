// The simulated device family as the command line names it: a comma-separated list of devices,
// each a model followed by ':'-separated keys.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/family_device.h"

namespace torvane::sim {

// The devices that text names, in its order, each at its own default port unless it says
// otherwise. The empty text is the default family: one qmx-c with application version 3.1.0.
// nullopt and a one-line reason in error when text does not follow DeviceListGrammar().
std::optional<std::vector<FamilyDeviceConfig>> ParseDeviceList(std::string_view text,
                                                               std::string& error);

// What ParseDeviceList accepts, as --help shows it.
const char* DeviceListGrammar();

}  // namespace torvane::sim
