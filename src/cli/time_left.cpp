#include "cli/time_left.h"

#include <cstdio>
#include <iterator>

#include "platform/clock.h"

namespace torvane::cli {
namespace {

// The rate is steady once the values since it was last found to change span at least 2 seconds
// and 5 percent, and the rate of the last 2 seconds (from the latest value at least that old)
// is within a quarter of the rate over the whole span: 1.25 times faster or slower at most.
// Progress values come at each new percentage, so both rates run from one step to another.
constexpr std::uint32_t kSteadyMs = 2000;
constexpr int kSteadyPercent = 5;
constexpr std::uint32_t kRecentMs = 2000;
constexpr double kAgreement = 1.25;
static_assert(kRecentMs <= kSteadyMs, "a steady span holds a value as old as the recent rate's");

}  // namespace

std::optional<int> TimeLeft::Add(int percent, std::uint32_t now) {
    if (!samples_.empty() && percent < samples_.back().percent) {
        samples_.clear();
    }
    if (percent < 0) {
        return std::nullopt;
    }
    if (samples_.empty() || percent > samples_.back().percent) {
        samples_.push_back({percent, now});
    }
    const Sample& last = samples_.back();
    const std::uint32_t span = ElapsedMs(samples_.front().ms, last.ms);
    const int gained = last.percent - samples_.front().percent;
    if (span < kSteadyMs || gained < kSteadyPercent || last.percent >= 100) {
        return std::nullopt;
    }
    auto recent = samples_.begin();
    while (ElapsedMs(std::next(recent)->ms, last.ms) >= kRecentMs) {
        ++recent;
    }
    const double overall = gained / static_cast<double>(span);
    const double lately =
        (last.percent - recent->percent) / static_cast<double>(ElapsedMs(recent->ms, last.ms));
    if (lately > overall * kAgreement || lately * kAgreement < overall) {
        // The rate changed: it is measured afresh from here.
        samples_.erase(samples_.begin(), samples_.end() - 1);
        return std::nullopt;
    }
    // Whole seconds, rounded up: the time left is never 0:00 before the writes end.
    const std::uint64_t msLeft = std::uint64_t{span} *
                                 static_cast<std::uint64_t>(100 - last.percent) /
                                 static_cast<std::uint64_t>(gained);
    return static_cast<int>((msLeft + 999) / 1000);
}

std::string TimeLeftText(int seconds) {
    char text[32];
    if (seconds >= 3600) {
        std::snprintf(text, sizeof text, "%d:%02d:%02d left", seconds / 3600, seconds / 60 % 60,
                      seconds % 60);
    } else {
        std::snprintf(text, sizeof text, "%d:%02d left", seconds / 60, seconds % 60);
    }
    return text;
}

}  // namespace torvane::cli
