// What a stop signal (Ctrl-C, SIGTERM, SIGHUP) does while a command runs. It is taken on the
// signal thread, which only asks: every device is let go by the code that holds it, between two
// exchanges.
#pragma once

#include <atomic>
#include <ostream>
#include <stop_token>

namespace torvane::cli {

// While it lives, an update's stop signals go here: the first Ctrl-C lets the boards being
// written finish; a second, or a termination, asks for a stop now.
class UpdateStops {
public:
    explicit UpdateStops(std::ostream& err);
    ~UpdateStops();
    UpdateStops(const UpdateStops&) = delete;
    UpdateStops& operator=(const UpdateStops&) = delete;

    std::stop_token now() const { return now_.get_token(); }

private:
    std::ostream& err_;
    std::stop_source now_;
    bool interrupted_ = false;  // written only by the signal thread
};

// While it lives, a command that only reads devices finishes the exchange in progress on the
// first stop signal and ends on a second; requested() says whether one came.
class ReadStops {
public:
    explicit ReadStops(std::ostream& err);
    ~ReadStops();
    ReadStops(const ReadStops&) = delete;
    ReadStops& operator=(const ReadStops&) = delete;

    bool requested() const { return requested_.load(); }

private:
    std::atomic<bool> requested_{false};
};

}  // namespace torvane::cli
