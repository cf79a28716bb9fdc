// The time left of one device's writes, from the progress values of its run as they arrive:
// given only once the write rate is steady, so that the first writes, or a device that slowed
// down or sped up, do not show a time that is far off.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace torvane::cli {

class TimeLeft {
public:
    // A progress value of the run at now (clock milliseconds); returns the seconds left once the
    // rate is steady, else nothing. A percentage lower than the last one starts a new run; one
    // below 0 (a status other than the run's progress) ends the run.
    std::optional<int> Add(int percent, std::uint32_t now);

private:
    struct Sample {
        int percent;
        std::uint32_t ms;
    };

    // The progress values since the rate was last found to change, each percentage once.
    std::vector<Sample> samples_;
};

// "0:42 left", or "1:02:05 left" for an hour or more.
std::string TimeLeftText(int seconds);

}  // namespace torvane::cli
