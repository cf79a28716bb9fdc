#include "sim/sim_arrivals.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace torvane::sim {

SimArrivals::SimArrivals(SimulatedFamily& family)
    : family_(family), toldUntil_(family.bus().clock().TickCount()) {}

bool SimArrivals::Take() {
    const std::uint32_t now = family_.bus().clock().TickCount();
    const std::optional<std::uint32_t> next = family_.NextPlugChange(toldUntil_);
    toldUntil_ = now;
    return next && Reached(now, *next);
}

bool SimArrivals::Wait(std::uint32_t timeoutMs, bool alone) {
    if (Take()) {
        return true;
    }
    Clock& clock = family_.bus().clock();
    if (family_.virtualTime() && !alone) {
        // The other threads move the time; look again after a moment of real time.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return Take();
    }
    std::uint32_t wait = timeoutMs;
    if (const std::optional<std::uint32_t> next = family_.NextPlugChange(toldUntil_)) {
        wait = std::min(wait, *next - toldUntil_);
    }
    clock.Sleep(wait);
    return Take();
}

}  // namespace torvane::sim
