// A device that plays a report log back: it answers each output report with the input report
// the log recorded after the same one, in order and not to a read much sooner than the log's,
// and it leaves the bus and comes back where the log's device did, at its own port, by the time
// the host first looks for it. It never answers
// what the log does not hold: at the first report that differs from the log's next one it
// stops, and says at which line of the log.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "protocol/report_log.h"
#include "sim/sim_function.h"

namespace torvane::sim {

struct ReplaySource {
    std::string name;  // the log's file, for the messages
    LoggedSession session;
};

class ReplayDevice final : public SimFunction {
public:
    // start: the time of the device's clock at which it shows the log's first device.
    ReplayDevice(std::shared_ptr<const ReplaySource> source, std::string locationPath,
                 std::uint32_t start);

    std::optional<SimInterface> Interface(std::uint32_t now) override;
    bool OutputReport(std::uint32_t now, std::span<const std::uint8_t> report) override;
    bool InputReport(std::uint32_t now, std::span<std::uint8_t> report) override;

    // Why the replay stopped, or that the host stopped before the log's end; empty while the
    // host has followed the log to its end. From any thread.
    std::string Problem() const;
    // The flash as the host's erase and writes have left it; from any thread.
    std::vector<std::uint8_t> flash() const;

private:
    const LoggedDevice& Shown() const { return source_->session.devices[device_]; }
    const LoggedReport* Next() const;
    void Consumed(std::uint32_t now);
    void Stop(std::string why);

    std::shared_ptr<const ReplaySource> source_;
    std::string location_;
    std::size_t device_ = 0;  // the log's device being shown, or gone before the next
    std::size_t report_ = 0;  // its next report
    bool away_ = false;
    std::uint32_t backAt_ = 0;
    std::uint32_t generation_ = 1;
    std::uint32_t lastReportAt_ = 0;
    std::string stopped_;
    std::vector<std::uint8_t> flash_;
};

}  // namespace torvane::sim
