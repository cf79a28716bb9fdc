#include <windows.h>

#include "platform/clock.h"

namespace torvane {
namespace {

class TickClock final : public Clock {
public:
    std::uint32_t TickCount() override { return ::GetTickCount(); }
    void Sleep(std::uint32_t ms) override { ::Sleep(ms); }
};

}  // namespace

Clock& SystemClock() {
    static TickClock clock;
    return clock;
}

}  // namespace torvane
