#include <chrono>
#include <thread>

#include "platform/clock.h"

namespace torvane {
namespace {

class SteadyClock final : public Clock {
public:
    std::uint32_t TickCount() override {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        return static_cast<std::uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
    }
    void Sleep(std::uint32_t ms) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
};

}  // namespace

Clock& MonotonicClock() {
    static SteadyClock clock;
    return clock;
}

}  // namespace torvane
