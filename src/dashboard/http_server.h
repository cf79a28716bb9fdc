// The server behind DashboardServer: the acceptor, the connections and the timers, all on one
// thread of its own that runs an io_context. Only Changed and Close are called from elsewhere.
#pragma once

// Boost 1.74's Asio uses std::exchange under C++20 without including <utility>.
#include <utility>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include "dashboard/dashboard_server.h"
#include "dashboard/station_state.h"

namespace torvane::dashboard {

class Connection;

class HttpServer {
public:
    HttpServer(StationState& state, const ServerOptions& options);

    // Binds and listens; false and why when it cannot.
    bool Listen(std::string& error);
    // Starts the server's thread.
    void Run();
    std::uint16_t port() const { return port_; }
    const ServerOptions& options() const { return options_; }
    std::size_t dropped() const { return dropped_.load(); }

    // Any thread: the state changed; the viewers get it within a throttle interval.
    void Changed();
    // Any thread but the server's: the last state to every viewer, then the thread ends.
    void Close();

    // For the connections, on the server's thread.
    std::string StateText() const;
    // A viewer of the events whose head is written: it gets the state at once.
    void AddViewer(Connection& viewer);
    // A connection was closed: the server lets it go.
    void Ended(const Connection& connection);
    // A viewer was dropped because its write did not complete in time.
    void Dropped() { dropped_.fetch_add(1); }

private:
    void Accept();
    void Schedule();
    void Broadcast();
    void Heartbeat();

    StationState& state_;
    const ServerOptions options_;
    boost::asio::io_context io_{1};
    boost::asio::ip::tcp::acceptor acceptor_{io_};
    boost::asio::steady_timer throttle_{io_};
    boost::asio::steady_timer heartbeat_{io_};
    boost::asio::steady_timer deadline_{io_};  // the most a closing server waits for its viewers
    std::thread thread_;
    std::uint16_t port_ = 0;
    std::atomic<bool> changed_{false};  // a change not yet sent; set by the station's threads
    std::atomic<std::size_t> dropped_{0};
    // The server's thread alone uses the members below.
    std::chrono::steady_clock::time_point lastSent_{};
    bool closing_ = false;
    // The connections not yet closed: a viewer waits for states with no operation of its own
    // that would hold it.
    std::vector<std::shared_ptr<Connection>> connections_;
};

}  // namespace torvane::dashboard
