// The station's live page: an HTTP server on a thread of its own that folds the station's events
// into a state and serves it. The station only publishes; it never waits for the server or for
// any viewer of the page.
//   GET /              the page
//   GET /events        the state as Server-Sent Events: at once, then after each change (at most
//                      one a throttle interval), with a comment as a heartbeat
//   GET /state.json    the state
//   GET /results.jsonl the station's results file as it is on the disk
// Anything else is 404, any other method 405. Nothing served changes the station.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "dashboard/station_feed.h"
#include "dashboard/station_state.h"
#include "platform/clock.h"

namespace torvane::dashboard {

class HttpServer;

struct ServerOptions {
    std::string address = "127.0.0.1";   // an IPv4 or IPv6 address of this machine
    std::uint16_t port = 0;              // 0: any free port
    std::string resultsPath;             // the station's results file; empty without one
    std::uint32_t throttleMs = 200;      // the least time between two states sent to viewers
    std::uint32_t heartbeatMs = 10'000;  // a comment to every viewer this often
    // A viewer whose write has not completed in this time is dropped: a viewer that stops
    // reading holds one write and one state waiting, never more.
    std::uint32_t writeTimeoutMs = 5'000;
};

// Reads "[ADDRESS:]PORT" (an IPv6 address in brackets) into options; false and why when text
// is not one.
bool ParseListenAddress(const std::string& text, ServerOptions& options, std::string& error);

class DashboardServer final : public StationFeed {
public:
    // Boards per hour are counted on clock, the station's.
    DashboardServer(Clock& clock, ServerOptions options);
    ~DashboardServer() override;
    DashboardServer(const DashboardServer&) = delete;
    DashboardServer& operator=(const DashboardServer&) = delete;

    // Binds the address and starts the server's thread; false and why when it cannot bind.
    bool Start(std::string& error);
    // The page's address, once started: the host's name in place of an address that means
    // every address of the machine.
    std::string Url() const;
    std::uint16_t port() const;

    void Publish(const nlohmann::json& event) override;
    // Sends the last state to every viewer, closes the connections (a viewer that takes more
    // than a few seconds is cut off) and ends the server's thread.
    void Close();

    // The viewers dropped because their writes did not complete in time.
    std::size_t droppedViewers() const;

private:
    StationState state_;
    std::unique_ptr<HttpServer> http_;
};

}  // namespace torvane::dashboard
