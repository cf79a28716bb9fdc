// Device arrivals seam: word from the system that interfaces of a class came or went, for a
// program that acts on each device as it is plugged in. A scan tells what is there now; this
// only tells when to scan.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/types.h"

namespace torvane {

class DeviceArrivals {
public:
    virtual ~DeviceArrivals() = default;

    // Waits up to timeoutMs for word that an interface came or went, and takes all the word
    // that has come; true when there was some. alone: no other thread of the program is using
    // the devices now (a simulated bus on virtual time moves its clock only then, since other
    // threads move it as they work).
    virtual bool Wait(std::uint32_t timeoutMs, bool alone) = 0;
};

// Word of the system's interfaces of classGuid: the udev monitor on Linux, a device-change
// registration on Windows. nullptr and the reason when the system gives none; a caller then
// scans at intervals alone.
std::unique_ptr<DeviceArrivals> WatchSystemArrivals(const Guid& classGuid, std::string& error);

}  // namespace torvane
