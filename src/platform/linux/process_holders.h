// Which processes have a device node open, from /proc.
#pragma once

#include <string>
#include <vector>

namespace torvane::linux_hid {

// The processes but this one that have the node open, by id: those that hold a claimed
// interface of its USB device among them. Only those whose descriptors the system shows.
std::vector<int> ProcessesHolding(const std::string& node);

}  // namespace torvane::linux_hid
