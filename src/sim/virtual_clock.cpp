#include "sim/virtual_clock.h"

#include <thread>

namespace torvane::sim {

void VirtualClock::Sleep(std::uint32_t ms) {
    now_.fetch_add(ms);
    // Lets another thread that waits on the same clock run, as a real sleep would.
    std::this_thread::yield();
}

}  // namespace torvane::sim
