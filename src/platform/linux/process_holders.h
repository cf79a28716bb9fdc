// Which processes may hold a claim on an interface of a USB device, from /proc.
#pragma once

#include <string>
#include <vector>

namespace torvane::linux_hid {

// The processes but this one that have the device node open for writing, by id: only those whose
// descriptors the system shows. usbfs keeps a claim with the descriptor that made it and shows no
// one which that is; it refuses every request of a descriptor open only for reading, so those
// named here are the ones that may hold it, and when there is one, it does. Each descriptor is
// known by its link in /proc/PID/fd, read and never followed (a stat() of it would wait on a
// network file system that no longer answers), and its flags in /proc/PID/fdinfo.
std::vector<int> ProcessesHolding(const std::string& node);

}  // namespace torvane::linux_hid
