#include "cli/stop_control.h"

#include <cstdlib>

#include "platform/stop_signals.h"

namespace torvane::cli {

UpdateStops::UpdateStops(std::ostream& err) : err_(err) {
    SetStopHandler([this](StopSignal signal) {
        if (signal == StopSignal::kInterrupt && !interrupted_) {
            interrupted_ = true;
            err_ << "torvane-cli: stopping once the devices being written are done; Ctrl-C again "
                    "stops now\n"
                 << std::flush;
        } else if (now_.request_stop()) {
            err_ << "torvane-cli: stopping now: each device being written stops between two "
                    "reports and is left in its boot loader; an update from the boot loader "
                    "finishes it\n"
                 << std::flush;
        }
    });
}

UpdateStops::~UpdateStops() {
    SetStopHandler({});
}

ReadStops::ReadStops(std::ostream& err) {
    SetStopHandler([this, &err](StopSignal signal) {
        if (requested_.exchange(true)) {
            std::_Exit(signal == StopSignal::kInterrupt ? 130 : 143);
        }
        err << "torvane-cli: stopping once the exchange in progress is done\n" << std::flush;
    });
}

ReadStops::~ReadStops() {
    SetStopHandler({});
}

}  // namespace torvane::cli
