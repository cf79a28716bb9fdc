// Clock seam: the millisecond tick counter and sleep that every wait goes through.
#pragma once

#include <cstdint>

namespace torvane {

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since an arbitrary start; wraps at 2^32 like GetTickCount.
    virtual std::uint32_t TickCount() = 0;
    // Blocks the calling thread for at least ms milliseconds of this clock's time.
    virtual void Sleep(std::uint32_t ms) = 0;
};

// The real clock of this platform; lives as long as the process.
Clock& SystemClock();

// A real clock that counts every millisecond on every platform (std::chrono::steady_clock);
// lives as long as the process. On Windows the system's tick counter moves in steps of about
// 16 ms instead.
Clock& MonotonicClock();

// Milliseconds from start to now, right across a wrap of the counter.
inline std::uint32_t ElapsedMs(std::uint32_t start, std::uint32_t now) {
    return now - start;
}

}  // namespace torvane
