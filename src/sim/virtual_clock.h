// A clock whose sleeps take no real time: sleeping advances the clock at once. Threads may share
// it: each sleep moves the one time forward by its length, so that every sleep lasts at least as
// long as asked, however many threads sleep at once, and no sleep waits for another.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/clock.h"

namespace torvane::sim {

class VirtualClock final : public Clock {
public:
    explicit VirtualClock(std::uint32_t start = 0) : now_(start) {}

    std::uint32_t TickCount() override { return now_.load(); }
    void Sleep(std::uint32_t ms) override;

private:
    std::atomic<std::uint32_t> now_;
};

}  // namespace torvane::sim
